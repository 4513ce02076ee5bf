#pragma once

#include "sheetreader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// Our own reading of a BIFF8 workbook stream, for the one case FreeXL 1.0.6
// gets wrong: a shared string that runs over more than one CONTINUE record
// (longer than about 8,000 bytes). FreeXL then converts memory it never
// filled, hands out wrong texts for that string and the ones after it, and
// even loses the sheet list. For such files the cells are read here.
class Biff8Workbook
{
public:
    // False when path holds no BIFF8 workbook stream this can follow.
    bool load(const QString &path);
    bool loadStream(const QByteArray &stream);

    // True when the workbook is password-protected (its records are encrypted).
    bool isEncrypted() const { return m_encrypted; }

    // True when a shared string spans two or more CONTINUE records.
    bool hasStringsFreeXlMisreads() const { return m_longSplitString; }

    // The first worksheet, as SheetReader describes it. Number cells become
    // plain decimal text (dates stay numbers here), text cells their text;
    // formulas, errors and booleans are empty.
    SheetRows readFirstSheet(int columns) const;

    // The string table of an SST record body and its CONTINUE bodies.
    static QStringList parseStrings(const QVector<QByteArray> &blocks, bool *longSplit = nullptr);

private:
    QByteArray m_stream;
    qint64 m_sheetOffset = -1;
    QStringList m_strings;
    bool m_longSplitString = false;
    bool m_encrypted = false;
};
