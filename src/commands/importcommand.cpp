#include "commands/importcommand.h"

#include "exchange/contactimport.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The import rules, with the reader's progress passed on and its stop asked for.
class ReportingBuilder : public ContactImport::Builder
{
public:
    explicit ReportingBuilder(WorkProgress &progress) : m_progress(progress) {}

    bool proceed(qint64 done, qint64 total) override
    {
        m_progress.setTotal(total);
        return m_progress.advance(done);
    }

private:
    WorkProgress &m_progress;
};

} // namespace

ImportCommand::ImportCommand(QString path, QObject *parent)
    : Command(parent), m_path(std::move(path))
{
}

QString ImportCommand::title() const
{
    return QStringLiteral("导入");
}

QString ImportCommand::text() const
{
    return QStringLiteral("正在导入“%1”…").arg(QFileInfo(m_path).fileName());
}

bool ImportCommand::run(WorkProgress &progress, QString *error)
{
    ReportingBuilder builder(progress);
    if (!importContacts(m_path, builder, &m_contacts, error))
        return false;
    for (Contact &contact : m_contacts)
        contact.ticked = true;
    m_recipients = RecipientLines::lay(m_contacts, false);
    return true;
}
