#pragma once

#include "core/contact.h"
#include "core/fenwicktree.h"

#include <QHash>
#include <QString>

#include <optional>

// Where every contact's line stands in the recipient list (Text2). The length
// of each contact's line with its break (0 for a contact that is not listed)
// is kept in a Fenwick tree, so ticking or unticking one contact finds the
// place of its line in O(log n) and changes exactly that line, with the same
// result as building the whole list again.
//
// A line longer than LongestShownLine (a name of megabytes) is shown cut
// short, ending in "…": a text box lays out a line of its own whole, however
// little of it shows. wholeText() gives such lines back in full.
class RecipientLines
{
public:
    // A change of the text box's document: removed characters at position
    // give way to inserted.
    struct Change
    {
        qsizetype position = 0;
        qsizetype removed = 0;
        QString inserted;
    };

    // The lines of a whole list, worked out apart from any RecipientLines
    // (on another thread) and then taken in by adopt().
    class Layout
    {
    public:
        const QString &text() const { return m_text; }

    private:
        friend class RecipientLines;
        QString m_text;
        FenwickTree m_lengths;
        QHash<QString, qsizetype> m_shortened;
        qsizetype m_count = 0;
        bool m_withRemark = false;
    };

    // The list of the ticked contacts with a valid mobile, in the text box's
    // document form; remembers every line.
    QString build(const ContactList &contacts, bool withRemark);
    // What build() makes of contacts, without remembering it.
    static Layout lay(const ContactList &contacts, bool withRemark);
    // Remembers the lines of layout, made for the contacts now listed, and
    // hands back its text: the same as build() from here on.
    QString adopt(Layout layout);

    // The change after the tick of contact index has changed; none when the
    // list stays as it is (a contact without a valid mobile is never listed).
    // Valid only while the lines describe contacts (see isCurrent).
    std::optional<Change> changeForTick(const ContactList &contacts, qsizetype index);

    // Number of lines.
    qsizetype count() const { return m_count; }

    static constexpr qsizetype LongestShownLine = 2000;

    // shownText (the box's plain text, edited by hand or not) with every line
    // that was shown cut short whole again, as the contacts have it.
    QString wholeText(const ContactList &contacts, const QString &shownText) const;

    // The contacts were replaced or edited since the last build.
    void invalidate() { m_current = false; }
    bool isCurrent() const { return m_current; }

private:
    // Cuts the line that starts at start short when it is too long to show,
    // noting it in shortened.
    static void shorten(QString &text, qsizetype start, qsizetype index,
                        QHash<QString, qsizetype> &shortened);

    FenwickTree m_lengths;
    QHash<QString, qsizetype> m_shortened; // shown line -> its contact
    qsizetype m_count = 0;
    bool m_withRemark = false;
    bool m_current = false;
};
