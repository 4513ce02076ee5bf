#pragma once

#include <QString>
#include <QStringView>
#include <QVector>

#include <array>

// One contact of the working list. The texts are held exactly as read (from
// the database or a workbook); trimming happens where a rule asks for it.
//
// A list may hold a million contacts, so the four texts share one string, one
// after another: one allocation per contact instead of four, none when all
// four are empty. The accessors hand out views into it, valid until the
// contact is changed or destroyed.
class Contact
{
public:
    Contact() = default;
    Contact(QStringView mobile, QStringView name, QStringView salutation, QStringView remark,
            qint64 rowId = 0, bool ticked = true);

    // Identity: a positive value is the contact's row in the database; a
    // negative value names a contact that exists only in the working list
    // (one that came from a workbook); 0 means none was given yet.
    qint64 rowId = 0;

    QStringView mobile() const { return QStringView(m_text).first(m_nameStart); }
    QStringView name() const
    {
        return QStringView(m_text).sliced(m_nameStart, m_salutationStart - m_nameStart);
    }
    QStringView salutation() const
    {
        return QStringView(m_text).sliced(m_salutationStart, m_remarkStart - m_salutationStart);
    }
    QStringView remark() const { return QStringView(m_text).sliced(m_remarkStart); }
    // The four in the order of a sheet's columns: mobile, name, salutation, remark.
    std::array<QStringView, 4> texts() const { return {mobile(), name(), salutation(), remark()}; }

    // Each rebuilds the one string with the other three texts unchanged.
    void setMobile(QStringView mobile) { assign(mobile, name(), salutation(), remark()); }
    void setName(QStringView name) { assign(mobile(), name, salutation(), remark()); }
    void setSalutation(QStringView salutation) { assign(mobile(), name(), salutation, remark()); }
    void setRemark(QStringView remark) { assign(mobile(), name(), salutation(), remark); }
    // All four texts at once (one allocation); the views may point into this
    // contact's own texts.
    void setTexts(QStringView mobile, QStringView name, QStringView salutation, QStringView remark)
    {
        assign(mobile, name, salutation, remark);
    }

    bool isStored() const { return rowId > 0; }
    // Equal string and boundaries mean equal texts, and the other way round.
    bool operator==(const Contact &other) const = default;

private:
    void assign(QStringView mobile, QStringView name, QStringView salutation, QStringView remark);

    QString m_text;
    // Where name, salutation and remark begin in m_text; 32 bits leave room
    // for texts far longer than any column or workbook cell holds.
    quint32 m_nameStart = 0;
    quint32 m_salutationStart = 0;
    quint32 m_remarkStart = 0;

public:
    // Last, where it fills the gap behind the boundaries: 48 bytes a contact.
    bool ticked = true;
};

// Only a QString and plain values: a list may move contacts with memmove.
Q_DECLARE_TYPEINFO(Contact, Q_RELOCATABLE_TYPE);

using ContactList = QVector<Contact>;
