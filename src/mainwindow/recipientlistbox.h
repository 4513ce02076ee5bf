#pragma once

#include <QPlainTextEdit>

// Text2: the recipient list as an editable text box. A rebuild replaces the
// whole text, as the user expects, but only the part that differs is handed
// to the text document, so a single tick on a list of a hundred thousand
// contacts does not lay out the whole list again.
class RecipientListBox : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit RecipientListBox(QWidget *parent = nullptr);

    // text may use CR LF line ends; the box shows one line per line.
    void replaceText(const QString &text);

private:
    QString m_shownText; // what the box holds unless the user has edited it since
};
