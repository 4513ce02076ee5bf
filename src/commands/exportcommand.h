#pragma once

#include "commands/command.h"
#include "core/contact.h"

// Writes the working list to an Excel workbook, complete or not at all (an
// older file of that name is kept on failure and on cancel). Progress counts
// the contacts written.
class ExportCommand : public Command
{
    Q_OBJECT

public:
    enum class Format { Xls, Xlsx };

    ExportCommand(QString fileName, ContactList contacts, Format format, QObject *parent = nullptr);

    QString title() const override;
    QString text() const override;

protected:
    bool run(WorkProgress &progress, QString *error) override;

private:
    const QString m_fileName;
    const ContactList m_contacts;
    const Format m_format;
};
