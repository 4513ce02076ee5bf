#!/usr/bin/env python3
"""Writes a workbook of N contacts stored the way spreadsheet programs store
them: the mobile as a number cell, name, salutation and remark as indexes into
the shared-string table (bench_import's own file uses inline strings).

    python3 bench/make_shared_strings_xlsx.py 1000000 DIR/shared.xlsx
    build-bench/bin/bench_import import DIR/shared.xlsx
"""
import sys
import zipfile

MAIN = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
REL = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
PKG = 'http://schemas.openxmlformats.org/package/2006/relationships'


def main():
    count, path = int(sys.argv[1]), sys.argv[2]
    strings, index = [], {}

    def shared(text):
        if text not in index:
            index[text] = len(strings)
            strings.append(text)
        return index[text]

    rows = []
    for i in range(count):
        r = i + 1
        rows.append('<row r="%d"><c r="A%d"><v>%d</v></c><c r="B%d" t="s"><v>%d</v></c>'
                    '<c r="C%d" t="s"><v>%d</v></c><c r="D%d" t="s"><v>%d</v></c></row>'
                    % (r, r, 13900000000 + i, r, shared('客户%d' % i), r,
                       shared('女' if i % 2 == 0 else '男'), r, shared('房间%d号，回访备注' % i)))
    head = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
    sheet = head + '<worksheet xmlns="%s"><sheetData>%s</sheetData></worksheet>' % (MAIN, ''.join(rows))
    table = head + '<sst xmlns="%s" count="%d" uniqueCount="%d">%s</sst>' % (
        MAIN, 3 * count, len(strings), ''.join('<si><t>%s</t></si>' % t for t in strings))
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('[Content_Types].xml',
                   '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>')
        z.writestr('_rels/.rels', '<Relationships xmlns="%s"><Relationship Id="rId1" '
                   'Type="%s/officeDocument" Target="xl/workbook.xml"/></Relationships>' % (PKG, REL))
        z.writestr('xl/workbook.xml', '<workbook xmlns="%s" xmlns:r="%s"><sheets><sheet name="S" '
                   'sheetId="1" r:id="rId1"/></sheets></workbook>' % (MAIN, REL))
        z.writestr('xl/_rels/workbook.xml.rels',
                   '<Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/worksheet" '
                   'Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="%s/sharedStrings" '
                   'Target="sharedStrings.xml"/></Relationships>' % (PKG, REL, REL))
        z.writestr('xl/worksheets/sheet1.xml', sheet)
        z.writestr('xl/sharedStrings.xml', table)


if __name__ == '__main__':
    main()
