#pragma once

#include <QPlainTextEdit>
#include <QTimer>

// Text2: the recipient list as an editable text box. A replacement hands the
// text document only the part that differs, so a change of one line on a list
// of a million contacts does not lay out the whole list again.
//
// A text document pays several hundred bytes for every paragraph, so the
// lines are kept in paragraphs of about 32 lines, joined by line separators
// (which the box shows as ordinary line breaks and toPlainText() returns as
// "\n"). The break after a line depends only on that line and an index
// (DocumentLines::breakAfter); the recipient list uses its contacts' positions, which a tick
// does not move, so ticking one contact changes the document at its line and
// nowhere else.
//
// Replacements made by the program are no undo history of the user's: they
// clear it (and would otherwise keep every earlier version of a long list
// alive); what the user types afterwards can be undone as usual.
//
// A replacement that inserts much text (a list of a million lines) puts it in
// in slices, one per turn of the event loop, so that the window keeps
// answering; the box is read-only meanwhile. Whatever comes next (another
// replacement, a change of a range) starts from the text as it is meant to be.
class RecipientListBox : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit RecipientListBox(QWidget *parent = nullptr);

    // text may use LF, CR LF or CR line ends; the box shows one line per line.
    void replaceText(const QString &text);
    // The same for a text already in the document's form (DocumentLines::documentTextFor).
    void replaceDocumentText(const QString &documentText);
    // Replaces removed characters at position (a document position) with
    // inserted, which is in the document's form.
    void replaceRange(qsizetype position, qsizetype removed, const QString &inserted);

    // The user has changed the text since the program last replaced it.
    bool isEditedByHand() const;

    // Part of the last replacement is still to be put in.
    bool isFilling() const { return m_fillFrom < m_fillEnd; }
    // Puts it in at once.
    void finishFilling();

private:
    // Lines of thousands of characters (one long name) are broken anywhere
    // instead of at word boundaries; the text itself stays as it is.
    void wrapLongLinesAnywhere(bool anywhere);
    // Inserts text[from, end) at from in slices, from the next turn of the
    // event loop on.
    void fillLater(const QString &text, qsizetype from, qsizetype end);
    // Inserts the next slice; false when none is left.
    bool fillSlice();
    void stopFilling();

    QString m_fillText;
    qsizetype m_fillFrom = 0; // where the next slice goes, in the box and in m_fillText
    qsizetype m_fillEnd = 0;
    bool m_readOnlyBeforeFill = false;
    bool m_lockedForFill = false; // read-only while the slices go in
    QTimer m_fillTimer;
};
