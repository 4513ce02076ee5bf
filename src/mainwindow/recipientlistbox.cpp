#include "mainwindow/recipientlistbox.h"

#include "model/documentlines.h"

#include <QTextCursor>
#include <QTextDocument>

#include <cstring>

RecipientListBox::RecipientListBox(QWidget *parent)
    : QPlainTextEdit(parent)
{
    m_fillTimer.setSingleShot(true);
    connect(&m_fillTimer, &QTimer::timeout, this, [this] {
        if (fillSlice())
            m_fillTimer.start(0);
    });
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

// Runs a change made by the program. With the undo history switched off the
// document records nothing and frees the text it no longer reaches; switching
// it on again starts an empty history for the user's own typing.
template<typename Change>
void changeWithoutHistory(QTextDocument *document, Change change)
{
    document->setUndoRedoEnabled(false);
    change();
    document->setUndoRedoEnabled(true);
    document->setModified(false);
}

// Longer than any line the box can show whole; see wrapLongLinesAnywhere.
constexpr qsizetype LongLine = 4096;

// About 10 ms of the document's work on a slow machine: the text of some
// 40,000 recipients.
constexpr qsizetype FillSlice = qsizetype(1) << 20;

// Where the slice of text that starts at from ends: after the first paragraph
// break past FillSlice characters, or at end.
qsizetype sliceEnd(const QString &text, qsizetype from, qsizetype end)
{
    if (end - from <= FillSlice)
        return end;
    const qsizetype paragraphEnd = text.indexOf(QChar::ParagraphSeparator, from + FillSlice);
    return paragraphEnd < 0 || paragraphEnd >= end ? end : paragraphEnd + 1;
}

qsizetype longestLine(QStringView text)
{
    qsizetype longest = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == u'\n') {
            longest = qMax(longest, i - start);
            start = i + 1;
        }
    }
    return qMax(longest, text.size() - start);
}

} // namespace

void RecipientListBox::wrapLongLinesAnywhere(bool anywhere)
{
    // Wrapping at word boundaries looks for the end of the word before it
    // falls back to breaking anywhere, for every row of the line: a line of
    // megabytes without a space would take quadratic time to lay out.
    const QTextOption::WrapMode mode =
        anywhere ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere;
    if (wordWrapMode() != mode)
        setWordWrapMode(mode);
}

void RecipientListBox::replaceText(const QString &text)
{
    replaceDocumentText(DocumentLines::documentTextFor(text));
}

void RecipientListBox::replaceDocumentText(const QString &wanted)
{
    // The part not yet put in is compared like any other.
    stopFilling();
    QTextDocument *doc = document();
    // The raw text has one character for every break, as document positions
    // count them, and keeps the user's edits as they are.
    const QString current = doc->toRawText();
    const qsizetype common = qMin(current.size(), wanted.size());
    const qsizetype prefix = commonPrefix(current.constData(), wanted.constData(), common);
    const qsizetype suffix = commonSuffix(current.constData() + current.size(),
                                          wanted.constData() + wanted.size(), common - prefix);
    const qsizetype removed = current.size() - prefix - suffix;
    const qsizetype inserted = wanted.size() - prefix - suffix;
    // Broken anywhere before a long line comes, at word boundaries only once
    // it has gone: the box lays out its whole text again at the switch.
    const bool longLines = longestLine(wanted) > LongLine;
    if (longLines)
        wrapLongLinesAnywhere(true);

    if (removed > prefix + suffix) {
        // Most of the text goes: starting afresh also frees the document's
        // store of removed text at once.
        const qsizetype end = sliceEnd(wanted, 0, wanted.size());
        changeWithoutHistory(doc, [&] { doc->setPlainText(wanted.left(end)); });
        fillLater(wanted, end, wanted.size());
    } else if (removed > 0 || inserted > 0) {
        const qsizetype end = sliceEnd(wanted, prefix, prefix + inserted);
        changeWithoutHistory(doc, [&] {
            QTextCursor cursor(doc);
            cursor.setPosition(int(prefix));
            cursor.setPosition(int(prefix + removed), QTextCursor::KeepAnchor);
            cursor.insertText(wanted.mid(prefix, end - prefix));
        });
        fillLater(wanted, end, prefix + inserted);
    }
    if (!longLines)
        wrapLongLinesAnywhere(false);
}

void RecipientListBox::fillLater(const QString &text, qsizetype from, qsizetype end)
{
    if (from >= end)
        return;
    m_fillText = text;
    m_fillFrom = from;
    m_fillEnd = end;
    m_readOnlyBeforeFill = isReadOnly();
    m_lockedForFill = true;
    setReadOnly(true);
    m_fillTimer.start(0);
}

bool RecipientListBox::fillSlice()
{
    const qsizetype end = sliceEnd(m_fillText, m_fillFrom, m_fillEnd);
    QTextDocument *doc = document();
    changeWithoutHistory(doc, [&] {
        QTextCursor cursor(doc);
        cursor.setPosition(int(m_fillFrom));
        cursor.insertText(m_fillText.mid(m_fillFrom, end - m_fillFrom));
    });
    m_fillFrom = end;
    if (isFilling())
        return true;
    stopFilling();
    return false;
}

void RecipientListBox::finishFilling()
{
    while (isFilling())
        fillSlice();
}

void RecipientListBox::stopFilling()
{
    m_fillTimer.stop();
    if (m_lockedForFill) {
        m_lockedForFill = false;
        setReadOnly(m_readOnlyBeforeFill);
    }
    m_fillText.clear();
    m_fillFrom = m_fillEnd = 0;
}

void RecipientListBox::replaceRange(qsizetype position, qsizetype removed, const QString &inserted)
{
    // position counts the whole text.
    finishFilling();
    QTextDocument *doc = document();
    if (longestLine(inserted) > LongLine)
        wrapLongLinesAnywhere(true);
    changeWithoutHistory(doc, [&] {
        QTextCursor cursor(doc);
        cursor.setPosition(int(position));
        cursor.setPosition(int(position + removed), QTextCursor::KeepAnchor);
        cursor.insertText(inserted);
    });
}

bool RecipientListBox::isEditedByHand() const
{
    return document()->isModified();
}
