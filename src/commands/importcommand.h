#pragma once

#include "commands/command.h"
#include "core/contact.h"
#include "model/recipientlines.h"

// Reads the first worksheet of a workbook (.xls, .xlsx or .csv) into
// working-list contacts, by the import rules, all ticked as the working list
// takes them, and lays out their recipient list (without remarks) here too, so
// that the window's thread need not. On failure error names the file and the
// reason; the window's list is only replaced on success.
class ImportCommand : public Command
{
    Q_OBJECT

public:
    explicit ImportCommand(QString path, QObject *parent = nullptr);

    QString title() const override;
    QString text() const override;

    // The contacts read, once finished with success.
    ContactList takeContacts() { return std::exchange(m_contacts, ContactList()); }
    // Their recipient list, once finished with success.
    RecipientLines::Layout takeRecipients() { return std::exchange(m_recipients, {}); }

protected:
    bool run(WorkProgress &progress, QString *error) override;

private:
    const QString m_path;
    ContactList m_contacts;
    RecipientLines::Layout m_recipients;
};
