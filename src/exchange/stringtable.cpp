#include "exchange/stringtable.h"

void StringTable::clear()
{
    m_text = QString();
    m_ends.clear();
}

void StringTable::reserve(qsizetype strings)
{
    m_ends.reserve(size_t(strings));
}

char16_t *StringTable::add(qsizetype count)
{
    const qsizetype start = m_text.size();
    m_text.resize(start + count); // grows by doubling
    m_ends.push_back(start + count);
    return reinterpret_cast<char16_t *>(m_text.data()) + start;
}

void StringTable::truncateLast(qsizetype count)
{
    const qsizetype start = m_ends.size() > 1 ? m_ends[m_ends.size() - 2] : 0;
    m_ends.back() = start + count;
    m_text.truncate(start + count);
}
