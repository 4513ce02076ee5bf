#pragma once

#include "core/contact.h"
#include "exchange/tablerows.h"

#include <QString>
#include <QStringList>

class WorkProgress;

// Excel 2007 workbook (.xlsx) of the working list: every contact, ticked or
// not, in list order, one per row from row 1; columns A..D = mobile, name,
// salutation, remark as text cells; no heading; columns fitted to their
// longest text. A sheet holds 1,048,576 rows; more contacts go on to Sheet2, ...

// Writes the workbook to path: complete, or not at all (an older file of that
// name is kept on failure). error receives the reason in the user's language.
bool writeXlsx(const QString &path, const ContactList &contacts, QString *error);

// The same, reporting the rows written to progress (total = contacts) and
// stopping when it is cancelled: the write then fails with
// WorkProgress::cancelledMessage() and leaves no file behind.
bool writeXlsx(const QString &path, const ContactList &contacts, WorkProgress *progress,
               QString *error);

// A sheet of any text rows below a heading row, for lists other than the
// contacts. widths: each column's width in characters. Rows beyond a sheet go
// on to the next sheet under the heading again. Complete, or not written at all.
bool writeXlsxTable(const QString &path, const QStringList &heading, const QList<int> &widths,
                    const RowProducer &rows, QString *error);
