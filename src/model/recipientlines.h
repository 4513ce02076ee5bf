#pragma once

#include "core/contact.h"
#include "core/fenwicktree.h"

#include <QString>

#include <optional>

// Where every contact's line stands in the recipient list (Text2). The length
// of each contact's line with its break (0 for a contact that is not listed)
// is kept in a Fenwick tree, so ticking or unticking one contact finds the
// place of its line in O(log n) and changes exactly that line, with the same
// result as building the whole list again.
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

    // The list of the ticked contacts with a valid mobile, in the text box's
    // document form; remembers every line.
    QString build(const ContactList &contacts, bool withRemark);

    // The change after the tick of contact index has changed; none when the
    // list stays as it is (a contact without a valid mobile is never listed).
    // Valid only while the lines describe contacts (see isCurrent).
    std::optional<Change> changeForTick(const ContactList &contacts, qsizetype index);

    // Number of lines.
    qsizetype count() const { return m_count; }

    // The contacts were replaced or edited since the last build.
    void invalidate() { m_current = false; }
    bool isCurrent() const { return m_current; }

private:
    FenwickTree m_lengths;
    qsizetype m_count = 0;
    bool m_withRemark = false;
    bool m_current = false;
};
