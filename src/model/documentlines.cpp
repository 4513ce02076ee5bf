#include "model/documentlines.h"

#include <QHash>

namespace DocumentLines {

QChar breakAfter(QStringView line, qsizetype index)
{
    constexpr size_t LinesPerParagraph = 32;
    constexpr qsizetype LongestRun = 128;
    const bool endsParagraph = qHash(line, size_t(0)) % LinesPerParagraph == 0
                               || index % LongestRun == LongestRun - 1;
    return QChar(endsParagraph ? QChar::ParagraphSeparator : QChar::LineSeparator);
}

QString documentTextFor(QStringView text)
{
    QString result;
    result.reserve(text.size());
    qsizetype index = 0;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        const QStringView line = text.mid(start, end - start);
        result += line;
        if (end == text.size())
            break;
        result += breakAfter(line, index++);
        start = end + 1;
        if (text[end] == u'\r' && start < text.size() && text[start] == u'\n')
            ++start;
    }
    return result;
}

} // namespace DocumentLines
