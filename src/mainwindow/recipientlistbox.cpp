#include "recipientlistbox.h"

#include <QTextCursor>
#include <QTextDocument>

#include <cstring>

RecipientListBox::RecipientListBox(QWidget *parent)
    : QPlainTextEdit(parent)
{
    // Rebuilds are not the user's edits: they stay out of the undo history
    // (which would otherwise keep every version of a long list).
    document()->setUndoRedoEnabled(false);
}

namespace {

// Length of the common start of two texts; compared in blocks with memcmp,
// which is many times faster than character by character on long lists.
qsizetype commonPrefix(const QChar *a, const QChar *b, qsizetype length)
{
    constexpr qsizetype Block = 256;
    qsizetype done = 0;
    while (done + Block <= length && std::memcmp(a + done, b + done, Block * sizeof(QChar)) == 0)
        done += Block;
    while (done < length && a[done] == b[done])
        ++done;
    return done;
}

qsizetype commonSuffix(const QChar *aEnd, const QChar *bEnd, qsizetype length)
{
    constexpr qsizetype Block = 256;
    qsizetype done = 0;
    while (done + Block <= length
           && std::memcmp(aEnd - done - Block, bEnd - done - Block, Block * sizeof(QChar)) == 0)
        done += Block;
    while (done < length && *(aEnd - done - 1) == *(bEnd - done - 1))
        ++done;
    return done;
}

} // namespace

QString RecipientListBox::documentTextFor(QStringView text)
{
    constexpr size_t LinesPerParagraph = 32;
    constexpr int LongestParagraph = 128; // bounds runs of equal lines
    QString result;
    result.reserve(text.size());
    int linesInParagraph = 0;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        const QStringView line = text.mid(start, end - start);
        result += line;
        if (end == text.size())
            break;
        ++linesInParagraph;
        const bool endsParagraph = qHash(line, size_t(0)) % LinesPerParagraph == 0
                                   || linesInParagraph >= LongestParagraph;
        result += endsParagraph ? QChar(u'\n') : QChar(QChar::LineSeparator);
        if (endsParagraph)
            linesInParagraph = 0;
        start = end + 1;
        if (text[end] == u'\r' && start < text.size() && text[start] == u'\n')
            ++start;
    }
    return result;
}

void RecipientListBox::replaceText(const QString &text)
{
    QString wanted = documentTextFor(text);
    QTextDocument *doc = document();
    // Document positions equal string offsets: every line or paragraph break
    // is one character. After an edit by hand the document is read back (its
    // breaks then all read as "\n", which only widens the replaced part).
    const QString current = doc->isModified() ? doc->toPlainText() : m_shownText;
    const qsizetype common = qMin(current.size(), wanted.size());
    const qsizetype prefix = commonPrefix(current.constData(), wanted.constData(), common);
    const qsizetype suffix = commonSuffix(current.constData() + current.size(),
                                          wanted.constData() + wanted.size(), common - prefix);

    if (prefix != current.size() || prefix != wanted.size()) {
        QTextCursor cursor(doc);
        cursor.setPosition(int(prefix));
        cursor.setPosition(int(current.size() - suffix), QTextCursor::KeepAnchor);
        cursor.insertText(wanted.mid(prefix, wanted.size() - suffix - prefix));
    }
    doc->setModified(false);
    m_shownText = std::move(wanted);
}
