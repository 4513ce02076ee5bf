#pragma once

#include <QString>
#include <QStringView>

#include <vector>

// A workbook's shared strings one after another in one text, each found by
// its index: one allocation for the table instead of one per string (a
// customer list holds millions), and a reader hands its cells views into it
// (QString::fromRawData) instead of counted copies.
class StringTable
{
public:
    void clear();
    void reserve(qsizetype strings);
    qsizetype size() const { return qsizetype(m_ends.size()); }
    QStringView at(qsizetype index) const
    {
        const qsizetype start = index > 0 ? m_ends[size_t(index) - 1] : 0;
        return QStringView(m_text).sliced(start, m_ends[size_t(index)] - start);
    }
    // Adds a string of count characters; they are to be written at the place
    // returned, before the next add.
    char16_t *add(qsizetype count);
    // Shortens the string added last to count characters (at most its own),
    // for a text whose length is known only once it is written.
    void truncateLast(qsizetype count);
    // Gives back the room the text grew beyond what it holds.
    void squeeze() { m_text.squeeze(); }

private:
    QString m_text;
    std::vector<qsizetype> m_ends; // where each string ends in m_text
};
