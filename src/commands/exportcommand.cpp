#include "commands/exportcommand.h"

#include "exchange/xls/xlswriter.h"
#include "exchange/xlsx/xlsxwriter.h"

#include <QFileInfo>

ExportCommand::ExportCommand(QString fileName, ContactList contacts, Format format,
                             QObject *parent)
    : Command(parent)
    , m_fileName(std::move(fileName))
    , m_contacts(std::move(contacts))
    , m_format(format)
{
}

QString ExportCommand::title() const
{
    return QStringLiteral("导出");
}

QString ExportCommand::text() const
{
    return QStringLiteral("正在导出 %1 个联系人到“%2”…")
        .arg(m_contacts.size())
        .arg(QFileInfo(m_fileName).fileName());
}

bool ExportCommand::run(WorkProgress &progress, QString *error)
{
    return m_format == Format::Xlsx ? writeXlsx(m_fileName, m_contacts, &progress, error)
                                    : writeXls(m_fileName, m_contacts, &progress, error);
}
