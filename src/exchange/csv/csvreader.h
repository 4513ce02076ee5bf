#pragma once

#include "exchange/sheetreader.h"

#include <QStringView>

// Reads a text file of comma-, semicolon- or tab-separated values as one
// sheet. The encoding comes from a byte-order mark (UTF-8, UTF-16); without
// one the text must be valid UTF-8, else valid GB18030 (which covers GBK).
// Fields follow the usual quoting: "a, b" and "say ""hi""" and quoted line
// breaks; records end in CR LF, LF or CR.
//
// The file is read and decoded in blocks of 64 KB, each cut after a line
// end, and every record goes to the sink as soon as it is complete: memory
// holds one block and the record being read, whatever the file's size.
class CsvReader : public SheetReader
{
public:
    bool read(const QString &path, int columns, SheetRowSink &sink, QString *error) override;

    // False when the bytes are in none of the accepted encodings, or are not
    // text at all.
    static bool decode(const QByteArray &bytes, QString *text);

    // The separator of the first record(s) that hold one outside quotes:
    // comma, semicolon or tab; comma when none does.
    static QChar detectSeparator(QStringView text);

    // The records of the text, each cut or padded to columns fields.
    static QVector<QStringList> parse(QStringView text, QChar separator, int columns);
};
