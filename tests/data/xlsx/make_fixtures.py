#!/usr/bin/python3
"""Builds the .xlsx and CSV test files in this folder.

Usage: /usr/bin/python3 make_fixtures.py MAIN_EXAMPLE.xls
MAIN_EXAMPLE.xls is the heading + two contacts example sheet saved by
LibreOffice. Needs openpyxl, soffice (LibreOffice), ssconvert (gnumeric) and a C
compiler with libgsf; the tests themselves need none of them.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

import openpyxl

HERE = os.path.dirname(os.path.abspath(__file__))
ROWS = [
    ["手机号", "姓名", "性别", "备注"],
    [" 13958700001", "张三", "男", "房间001号"],
    ["13958700002", "李四", "女", "房间002号"],
]


def out(name):
    return os.path.join(HERE, name)


def soffice_convert(source, target_ext, filter_option, target):
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["soffice", "--headless", "--convert-to", filter_option, "--outdir", tmp, source],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        produced = os.path.join(tmp, os.path.splitext(os.path.basename(source))[0] + "." + target_ext)
        shutil.copyfile(produced, target)


def main_example(xls):
    soffice_convert(xls, "xlsx", "xlsx", out("main_example.libreoffice.xlsx"))
    subprocess.run(["ssconvert", xls, out("main_example.gnumeric.xlsx")], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # LibreOffice's own CSV (comma, double quotes, UTF-8)
    soffice_convert(xls, "csv", 'csv:Text - txt - csv (StarCalc):44,34,76', out("main_example.utf8.csv"))
    with open(out("main_example.utf8.csv"), encoding="utf-8") as f:
        text = f.read()

    def write(name, data):
        with open(out(name), "wb") as f:
            f.write(data)

    crlf = text.replace("\r\n", "\n").replace("\n", "\r\n")
    write("main_example.utf8bom.csv", b"\xef\xbb\xbf" + crlf.encode("utf-8"))
    write("main_example.gbk.csv", crlf.encode("gbk"))
    write("main_example.utf16le.csv", b"\xff\xfe" + crlf.encode("utf-16-le"))
    write("main_example.utf16be.csv", b"\xfe\xff" + text.encode("utf-16-be"))
    write("main_example.cr.csv", text.replace("\n", "\r").encode("gbk"))
    write("main_example.semicolon.csv",
          "\r\n".join(";".join(row) for row in ROWS).encode("gbk") + b"\r\n")
    write("main_example.tab.csv", "\n".join("\t".join(row) for row in ROWS).encode("utf-8"))
    # Quoted heading with a line break and a separator, quoted cells, no final line end.
    write("main_example.quoted.csv",
          ('"手机\r\n号","姓名,称呼","性别","备注"\r\n'
           '" 13958700001","张三",男,"房间001号"\r\n'
           '13958700002,"李四","女","房间""002""号"').encode("utf-8"))


def values_workbook():
    """Numbers, dates, formulas and booleans, saved by LibreOffice with cached values."""
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "名单"
    ws["A1"], ws["B1"], ws["C1"], ws["D1"] = "手机号", "姓名", "称呼", "备注"
    ws["A2"] = 13958700001
    ws["B2"] = "王五"
    ws["C2"] = "男"
    ws["D2"] = "=DATE(2024,1,5)"
    ws["D2"].number_format = "yyyy-mm-dd"
    ws["A3"] = 13958700002.0
    ws["B3"] = '=B2&"六"'
    ws["C3"] = True
    ws["D3"] = 12.5
    ws["A5"] = '="1395870000"&"5"'
    ws["D5"] = "=DATE(2024,1,5)+TIME(13,45,30)"
    ws["D5"].number_format = "yyyy-mm-dd hh:mm:ss"
    ws["B6"] = "=TIME(8,30,0)"
    ws["B6"].number_format = "hh:mm:ss"
    ws["D6"] = "=1/0"
    ws["F8"] = "x"
    other = wb.create_sheet("其他")
    other["A1"] = "13900000000"
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, "values.xlsx")
        wb.save(source)
        soffice_convert(source, "xlsx", "xlsx", out("values.libreoffice.xlsx"))


SHEET_NS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL_NS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG_REL = "http://schemas.openxmlformats.org/package/2006/relationships"


def sheet_order_workbook():
    """Hand-made: the first sheet in workbook order is the second file in the archive."""
    content_types = ('<?xml version="1.0" encoding="UTF-8"?>'
                     '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                     '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                     '<Default Extension="xml" ContentType="application/xml"/></Types>')
    root_rels = (f'<Relationships xmlns="{PKG_REL}"><Relationship Id="rId1" '
                 f'Type="{REL_NS}/officeDocument" Target="book/main.xml"/></Relationships>')
    workbook = (f'<x:workbook xmlns:x="{SHEET_NS}" xmlns:rel="{REL_NS}"><x:workbookPr/><x:sheets>'
                '<x:sheet name="客户" sheetId="2" rel:id="rId7"/>'
                '<x:sheet name="其他" sheetId="1" rel:id="rId1"/>'
                '</x:sheets></x:workbook>')
    workbook_rels = (f'<Relationships xmlns="{PKG_REL}">'
                     f'<Relationship Id="rId1" Type="{REL_NS}/worksheet" Target="sheets/sheet1.xml"/>'
                     f'<Relationship Id="rId7" Type="{REL_NS}/worksheet" Target="/book/sheets/sheet2.xml"/>'
                     f'<Relationship Id="rId3" Type="{REL_NS}/sharedStrings" Target="strings.xml"/>'
                     f'<Relationship Id="rId4" Type="{REL_NS}/styles" Target="styles.xml"/>'
                     '</Relationships>')
    strings = (f'<sst xmlns="{SHEET_NS}" count="5" uniqueCount="5">'
               '<si><t>手机号</t></si>'
               '<si><r><rPr><b/></rPr><t>张</t></r><r><t xml:space="preserve">三 </t></r>'
               '<rPh sb="0" eb="1"><t>ZHANG</t></rPh></si>'
               '<si><t>男</t></si>'
               '<si><t>第一行_x000D_\n第二行</t></si>'
               '<si><t>其他表</t></si></sst>')
    styles = (f'<styleSheet xmlns="{SHEET_NS}"><numFmts count="1">'
              '<numFmt numFmtId="164" formatCode="yyyy&quot;年&quot;m&quot;月&quot;d&quot;日&quot;"/></numFmts>'
              '<cellXfs count="3"><xf numFmtId="0"/><xf numFmtId="164"/><xf numFmtId="49"/></cellXfs>'
              '</styleSheet>')
    other = (f'<worksheet xmlns="{SHEET_NS}"><sheetData><row r="1">'
             '<c r="A1" t="s"><v>4</v></c><c r="B1"><v>13900000000</v></c></row></sheetData></worksheet>')
    # Rows 1, 2, (3 implied by no r), 5; cells without r; a number in exponent form;
    # a date style; a formula with a cached string; a cell far right.
    first = (f'<worksheet xmlns="{SHEET_NS}"><dimension ref="A1:Z5"/><sheetData>'
             '<row r="1"><c r="A1" t="s"><v>0</v></c></row>'
             '<row r="2"><c r="A2"><v>1.3958700001E10</v></c><c r="B2" t="s"><v>1</v></c>'
             '<c r="C2" t="s"><v>2</v></c><c r="D2" t="s"><v>3</v></c></row>'
             '<row><c><v>13958700002</v></c><c t="inlineStr"><is><t>李四</t></is></c><c/>'
             '<c s="1"><v>45296</v></c></row>'
             '<row r="5"><c r="B5" t="str"><f>A2&amp;""</f><v>13958700001</v></c>'
             '<c r="C5" s="2" t="s"><v>2</v></c><c r="Z5"><v>1</v></c></row>'
             '</sheetData></worksheet>')
    with zipfile.ZipFile(out("sheet_order.xlsx"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", content_types)
        z.writestr("_rels/.rels", root_rels)
        z.writestr("book/sheets/sheet1.xml", other)
        z.writestr("book/main.xml", workbook)
        z.writestr("book/_rels/main.xml.rels", workbook_rels)
        z.writestr("book/strings.xml", strings)
        z.writestr("book/styles.xml", styles)
        z.writestr("book/sheets/sheet2.xml", first)


ENCRYPTED_CONTAINER_C = r"""
#include <gsf/gsf.h>
#include <string.h>
/* A compound file laid out as an encrypted package: EncryptionInfo, then
 * EncryptedPackage holding the (here unencrypted) bytes of a workbook. */
int main(int argc, char **argv)
{
    gsf_init();
    GError *err = NULL;
    gsize size = 0;
    gchar *package = NULL;
    if (!g_file_get_contents(argv[1], &package, &size, &err))
        return 1;
    GsfOutput *sink = gsf_output_stdio_new(argv[2], &err);
    GsfOutfile *ole = gsf_outfile_msole_new(sink);
    GsfOutput *info = gsf_outfile_new_child(ole, "EncryptionInfo", FALSE);
    const guint8 version[8] = {4, 0, 4, 0, 0x40, 0, 0, 0};
    gsf_output_write(info, sizeof version, version);
    gsf_output_close(info);
    GsfOutput *data = gsf_outfile_new_child(ole, "EncryptedPackage", FALSE);
    guint64 length = size;
    gsf_output_write(data, 8, (const guint8 *)&length);
    gsf_output_write(data, size, (const guint8 *)package);
    gsf_output_close(data);
    gsf_output_close(GSF_OUTPUT(ole));
    g_object_unref(ole);
    g_object_unref(sink);
    return 0;
}
"""


def encrypted_workbook():
    """A password-protected workbook's container: the package inside a compound file."""
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, "container.c")
        tool = os.path.join(tmp, "container")
        with open(source, "w") as f:
            f.write(ENCRYPTED_CONTAINER_C)
        flags = subprocess.run(["pkg-config", "--cflags", "--libs", "libgsf-1"], check=True,
                               capture_output=True, text=True).stdout.split()
        subprocess.run(["cc", source, "-o", tool] + flags, check=True)
        subprocess.run([tool, out("main_example.libreoffice.xlsx"), out("encrypted.xlsx")], check=True)


def bomb_workbooks():
    """Shared strings that inflate to 300 MB; the second copy understates the size in its headers."""
    import struct
    import zlib
    size = 300 << 20
    with zipfile.ZipFile(out("bomb.xlsx"), "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        z.writestr("_rels/.rels", f'<Relationships xmlns="{PKG_REL}"><Relationship Id="rId1" '
                   f'Type="{REL_NS}/officeDocument" Target="xl/workbook.xml"/></Relationships>')
        z.writestr("xl/workbook.xml", f'<workbook xmlns="{SHEET_NS}" xmlns:r="{REL_NS}"><sheets>'
                   '<sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>')
        z.writestr("xl/_rels/workbook.xml.rels",
                   f'<Relationships xmlns="{PKG_REL}">'
                   f'<Relationship Id="rId1" Type="{REL_NS}/worksheet" Target="worksheets/sheet1.xml"/>'
                   f'<Relationship Id="rId2" Type="{REL_NS}/sharedStrings" Target="sharedStrings.xml"/>'
                   '</Relationships>')
        z.writestr("xl/worksheets/sheet1.xml", f'<worksheet xmlns="{SHEET_NS}"><sheetData/></worksheet>')
        head = f'<sst xmlns="{SHEET_NS}"><si><t>'.encode()
        z.writestr("xl/sharedStrings.xml", head + b"A" * (size - len(head)))
    data = bytearray(open(out("bomb.xlsx"), "rb").read())
    # Rewrite the uncompressed size of that entry (local and central headers) to 1 KB.
    name = b"xl/sharedStrings.xml"
    for signature, offset in ((b"PK\x03\x04", 22), (b"PK\x01\x02", 24)):
        at = 0
        while True:
            at = data.find(signature, at)
            if at < 0:
                break
            name_at = at + (30 if signature == b"PK\x03\x04" else 46)
            if data[name_at:name_at + len(name)] == name:
                struct.pack_into("<I", data, at + offset, 1024)
            at += 4
    with open(out("bomb_understated.xlsx"), "wb") as f:
        f.write(data)


if __name__ == "__main__":
    bomb_workbooks()
    main_example(os.path.abspath(sys.argv[1]))
    values_workbook()
    sheet_order_workbook()
    encrypted_workbook()
