#pragma once

#include <QString>
#include <QVector>

// One contact of the working list. The texts are held exactly as read (from
// the database or a workbook); trimming happens where a rule asks for it.
struct Contact
{
    // Row identity in the database; 0 for a contact that exists only in the
    // working list (one that came from a workbook).
    qint64 rowId = 0;
    QString mobile;
    QString name;
    QString salutation;
    QString remark;
    bool ticked = true;

    bool isStored() const { return rowId != 0; }
    bool operator==(const Contact &other) const = default;
};

using ContactList = QVector<Contact>;
