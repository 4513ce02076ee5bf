#pragma once

#include <QPlainTextEdit>

// Text2: the recipient list as an editable text box. A rebuild replaces the
// whole text, as the user expects, but only the part that differs is handed
// to the text document, so a single tick on a list of a hundred thousand
// contacts does not lay out the whole list again.
//
// A text document pays several hundred bytes for every paragraph, so the
// lines are kept in paragraphs of about 32 lines, joined by line separators
// (which the box shows as ordinary line breaks and toPlainText() returns as
// "\n"). Where a paragraph ends depends only on the line before the break,
// so adding or removing one line changes the document only there.
class RecipientListBox : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit RecipientListBox(QWidget *parent = nullptr);

    // text may use LF, CR LF or CR line ends; the box shows one line per line.
    void replaceText(const QString &text);

    // The text as the document holds it, with its paragraph breaks.
    static QString documentTextFor(QStringView text);

private:
    QString m_shownText; // what the box holds unless the user has edited it since
};
