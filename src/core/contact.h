#pragma once

#include <QString>
#include <QVector>

// One contact of the working list. The texts are held exactly as read (from
// the database or a workbook); trimming happens where a rule asks for it.
struct Contact
{
    // Identity: a positive value is the contact's row in the database; a
    // negative value names a contact that exists only in the working list
    // (one that came from a workbook); 0 means none was given yet.
    qint64 rowId = 0;
    QString mobile;
    QString name;
    QString salutation;
    QString remark;
    bool ticked = true;

    bool isStored() const { return rowId > 0; }
    bool operator==(const Contact &other) const = default;
};

// Only QStrings and plain values: a list may move contacts with memmove.
Q_DECLARE_TYPEINFO(Contact, Q_RELOCATABLE_TYPE);

using ContactList = QVector<Contact>;
