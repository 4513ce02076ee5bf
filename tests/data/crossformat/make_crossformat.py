#!/usr/bin/env python3
"""Writes the cross-format test workbooks: one flat OpenDocument sheet per date
system, saved by LibreOffice as .xlsx, and that .xlsx converted by LibreOffice
to .xls, so that both files of a pair come from the same program and hold the
same values, formats and cached formula results. LibreOffice runs with a
profile of its own that recalculates every formula on load: without that, the
.xls gets 0 as the cached result of text formulas. Run from this folder; needs libreoffice (headless) only here,
never in the tests.

    python3 make_crossformat.py
"""
import os
import shutil
import subprocess
import tempfile
from xml.sax.saxutils import escape, quoteattr

STYLES = """
<number:time-style style:name="N_mss"><number:minutes/><number:text>:</number:text>
  <number:seconds number:style="long"/></number:time-style>
<number:time-style style:name="N_elapsed" number:truncate-on-overflow="false">
  <number:hours number:style="long"/><number:text>:</number:text>
  <number:minutes number:style="long"/></number:time-style>
<number:date-style style:name="N_yearmonth"><number:year number:style="long"/>
  <number:text>年</number:text><number:month/><number:text>月</number:text></number:date-style>
<number:date-style style:name="N_date"><number:year number:style="long"/><number:text>-</number:text>
  <number:month number:style="long"/><number:text>-</number:text><number:day number:style="long"/>
</number:date-style>
<number:date-style style:name="N_datetime"><number:year number:style="long"/><number:text>/</number:text>
  <number:month/><number:text>/</number:text><number:day/><number:text> </number:text>
  <number:hours number:style="long"/><number:text>:</number:text><number:minutes number:style="long"/>
  <number:text>:</number:text><number:seconds number:style="long"/></number:date-style>
<number:number-style style:name="N_sci"><number:scientific-number number:decimal-places="2"
  number:min-integer-digits="1" number:min-exponent-digits="2"/></number:number-style>
<number:percentage-style style:name="N_pct"><number:number number:decimal-places="0"
  number:min-integer-digits="1"/><number:text>%</number:text></number:percentage-style>
<style:style style:name="mss" style:family="table-cell" style:data-style-name="N_mss"/>
<style:style style:name="elapsed" style:family="table-cell" style:data-style-name="N_elapsed"/>
<style:style style:name="yearmonth" style:family="table-cell" style:data-style-name="N_yearmonth"/>
<style:style style:name="date" style:family="table-cell" style:data-style-name="N_date"/>
<style:style style:name="datetime" style:family="table-cell" style:data-style-name="N_datetime"/>
<style:style style:name="sci" style:family="table-cell" style:data-style-name="N_sci"/>
<style:style style:name="pct" style:family="table-cell" style:data-style-name="N_pct"/>
"""


def text(value):
    return '<table:table-cell office:value-type="string"><text:p>%s</text:p></table:table-cell>' % escape(value)


def number(value, style=None):
    attr = ' table:style-name="%s"' % style if style else ""
    return '<table:table-cell%s office:value-type="float" office:value="%r"><text:p>%r</text:p></table:table-cell>' % (
        attr, value, value)


def formula(expression, kind, cached):
    """kind: string, float, boolean or error (cached is then the shown error)."""
    f = 'table:formula=%s' % quoteattr("of:=" + expression)
    if kind == "string":
        return '<table:table-cell %s office:value-type="string" office:string-value=%s><text:p>%s</text:p></table:table-cell>' % (
            f, quoteattr(cached), escape(cached))
    if kind == "float":
        return '<table:table-cell %s office:value-type="float" office:value="%r"><text:p>%r</text:p></table:table-cell>' % (
            f, cached, cached)
    if kind == "boolean":
        return '<table:table-cell %s office:value-type="boolean" office:boolean-value="%s"><text:p>%s</text:p></table:table-cell>' % (
            f, "true" if cached else "false", "TRUE" if cached else "FALSE")
    return '<table:table-cell %s office:value-type="float" office:value="0"><text:p>%s</text:p></table:table-cell>' % (f, cached)


def empty():
    return "<table:table-cell/>"


# Columns A..D: mobile, name, salutation, remark. Every row has its own mobile.
ROWS_1900 = [
    [text("手机号"), text("姓名"), text("称呼"), text("备注")],
    [number(13958700001), text("张三"), text("男"), number(45000.25, "mss")],
    [text("13958700002"), number(0.5, "elapsed"), text("女"), number(59, "yearmonth")],
    [formula('TEXT(13958700000+3;"0")', "string", "13958700003"), formula('"张"&"三"', "string", "张三"),
     empty(), number(60, "date")],
    [formula("13958700000+4", "float", 13958700004), number(61, "date"), empty(),
     number(45296.573263888889, "datetime")],
    [text("13958700005"), formula("1<0", "boolean", False), empty(), formula("1>0", "boolean", True)],
    [text("13958700006"), formula("1/0", "error", "#DIV/0!"), formula("NA()", "error", "#N/A"),
     formula('""', "string", "")],
    [text("13958700007"), number(12.5), number(-3), number(0.25, "pct")],
    [text("13958700008"), number(13958700001, "sci"), number(1.5e-7), formula("1/3", "float", 1 / 3)],
]

ROWS_1904 = [
    [text("13958700011"), number(43834, "date"), text("男"), number(43834.5, "datetime")],
    [text("13958700012"), number(0, "date"), empty(), number(0.75, "mss")],
]


def document(rows, date1904):
    settings = ""
    if date1904:
        settings = '<table:calculation-settings><table:null-date table:date-value="1904-01-01"/></table:calculation-settings>'
    body = "".join("<table:table-row>%s</table:table-row>" % "".join(cells) for cells in rows)
    return """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0"
 xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:automatic-styles>%s</office:automatic-styles>
<office:body><office:spreadsheet>%s<table:table table:name="名单">%s</table:table>
<table:table table:name="Other"><table:table-row>%s</table:table-row></table:table>
</office:spreadsheet></office:body></office:document>
""" % (STYLES, settings, body, text("13900000000"))


RECALC_ALWAYS = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema">
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="OOXMLRecalcMode" oor:op="fuse"><value>0</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="ODFRecalcMode" oor:op="fuse"><value>0</value></prop></item>
</oor:items>
"""


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    with tempfile.TemporaryDirectory() as work:
        os.makedirs(os.path.join(work, "profile", "user"))
        with open(os.path.join(work, "profile", "user", "registrymodifications.xcu"), "w") as f:
            f.write(RECALC_ALWAYS)
        office = ["libreoffice", "-env:UserInstallation=file://" + os.path.join(work, "profile"), "--headless"]
        for name, rows, date1904 in (("values1900", ROWS_1900, False), ("values1904", ROWS_1904, True)):
            source = os.path.join(work, name + ".fods")
            with open(source, "w", encoding="utf-8") as f:
                f.write(document(rows, date1904))
            xlsx = os.path.join(work, name + ".xlsx")
            subprocess.run(office + ["--convert-to", "xlsx", "--outdir", work, source],
                           check=True, stdout=subprocess.DEVNULL)
            os.makedirs(os.path.join(work, "xls"), exist_ok=True)
            subprocess.run(office + ["--convert-to", "xls", "--outdir",
                            os.path.join(work, "xls"), xlsx], check=True, stdout=subprocess.DEVNULL)
            shutil.copy(xlsx, os.path.join(here, name + ".libreoffice.xlsx"))
            shutil.copy(os.path.join(work, "xls", name + ".xls"), os.path.join(here, name + ".libreoffice.xls"))


if __name__ == "__main__":
    main()
