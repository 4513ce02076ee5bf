#pragma once

#include "commands/command.h"
#include "exchange/phonebook/phonebookfile.h"

// Writes the phone contact-book file, complete or not at all (an older file
// of that name is kept on failure and on cancel). Progress counts the
// characters of the recipient list done.
class PhoneBookCommand : public Command
{
    Q_OBJECT

public:
    PhoneBookCommand(QString fileName, QString smsText, QString recipients,
                     QObject *parent = nullptr);

    QString title() const override;
    QString text() const override;

    // Once finished with success: the recipients the file leaves out.
    const PhoneBookFile::LeftOut &leftOut() const { return m_leftOut; }

protected:
    bool run(WorkProgress &progress, QString *error) override;

private:
    const QString m_fileName;
    const QString m_smsText;
    const QString m_recipients;
    PhoneBookFile::LeftOut m_leftOut;
};
