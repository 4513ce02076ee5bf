#include "recipientlistbox.h"

#include <QTextCursor>
#include <QTextDocument>

RecipientListBox::RecipientListBox(QWidget *parent)
    : QPlainTextEdit(parent)
{
    // Rebuilds are not the user's edits: they stay out of the undo history
    // (which would otherwise keep every version of a long list).
    document()->setUndoRedoEnabled(false);
}

void RecipientListBox::replaceText(const QString &text)
{
    QString wanted = text;
    wanted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    wanted.replace(u'\r', u'\n');

    QTextDocument *doc = document();
    // Document positions equal string offsets for text with "\n" line ends.
    const QString current = doc->isModified() ? doc->toPlainText() : m_shownText;
    const qsizetype common = qMin(current.size(), wanted.size());
    qsizetype prefix = 0;
    while (prefix < common && current[prefix] == wanted[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < common - prefix
           && current[current.size() - 1 - suffix] == wanted[wanted.size() - 1 - suffix])
        ++suffix;

    if (prefix != current.size() || prefix != wanted.size()) {
        QTextCursor cursor(doc);
        cursor.setPosition(int(prefix));
        cursor.setPosition(int(current.size() - suffix), QTextCursor::KeepAnchor);
        cursor.insertText(wanted.mid(prefix, wanted.size() - suffix - prefix));
    }
    doc->setModified(false);
    m_shownText = std::move(wanted);
}
