#pragma once

#include "exchange/xls/biffbuffer.h"

#include <QHash>
#include <QString>
#include <QStringList>

// The workbook's shared string table: every distinct cell text once, cells
// refer to it by index.
class SharedStrings
{
public:
    // The index of text, added on first use; every call counts one cell.
    quint32 use(QStringView text);

    quint32 uniqueCount() const { return quint32(m_strings.size()); }
    quint32 totalCount() const { return m_total; }

    // SST (split into CONTINUE records where it outgrows one record) and the
    // EXTSST index into it. Offsets are taken relative to the start of out,
    // which must be the start of the workbook stream.
    void write(BiffBuffer &out) const;

private:
    // Keys are views into m_strings, whose texts never move.
    QHash<QStringView, quint32> m_index;
    QStringList m_strings;
    quint32 m_total = 0;
};
