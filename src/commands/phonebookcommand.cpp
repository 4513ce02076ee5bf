#include "commands/phonebookcommand.h"

#include <QFileInfo>

PhoneBookCommand::PhoneBookCommand(QString fileName, QString smsText, QString recipients,
                                   QObject *parent)
    : Command(parent)
    , m_fileName(std::move(fileName))
    , m_smsText(std::move(smsText))
    , m_recipients(std::move(recipients))
{
}

QString PhoneBookCommand::title() const
{
    return QStringLiteral("生成手机通讯录");
}

QString PhoneBookCommand::text() const
{
    return QStringLiteral("正在写入“%1”…").arg(QFileInfo(m_fileName).fileName());
}

bool PhoneBookCommand::run(WorkProgress &progress, QString *error)
{
    return PhoneBookFile::write(m_fileName, m_smsText, m_recipients, &progress, &m_leftOut, error);
}
