#include "followup/ui/followupdesk.h"

#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "followup/recordexport.h"
#include "followup/ui/callcard.h"
#include "followup/ui/duelistdialog.h"
#include "followup/ui/exportrun.h"
#include "followup/ui/historydialog.h"
#include "followup/ui/phonechoicedialog.h"
#include "followup/ui/phonedialer.h"
#include "storage/contactstore.h"
#include "storage/database.h"

#include <QFileInfo>
#include <QPointer>

namespace {

const QString XlsxFilter = QStringLiteral("Excel 2007 工作簿 (*.xlsx)");
const QString CsvFilter = QStringLiteral("CSV 文件 (*.csv)");

} // namespace

FollowUpDesk::FollowUpDesk(ContactStore &contacts, PhoneDialer *dialer, QWidget *window,
                           RecordEditor::Clock clock)
    : QObject(window)
    , m_store(contacts.database())
    , m_contacts(contacts)
    , m_dialer(dialer)
    , m_window(window)
    , m_clock(clock ? std::move(clock) : [] { return QDateTime::currentDateTime(); })
{
}

FollowUpDesk::~FollowUpDesk() = default;

RecordEditor::Clock FollowUpDesk::windowClock()
{
    return [this] { return m_clock(); };
}

HistoryDialog &FollowUpDesk::history()
{
    if (!m_history) {
        m_history = new HistoryDialog(m_store, m_contacts, windowClock(), m_window);
        connect(m_history, &HistoryDialog::recordsChanged, this, &FollowUpDesk::recordsChanged);
        connect(m_history, &HistoryDialog::callRequested, this, &FollowUpDesk::call);
        // The next call asks again which phone dials.
        connect(m_history, &HistoryDialog::phoneSwitchRequested, this,
                [this] { m_chosenPhone.clear(); });
    }
    return *m_history;
}

bool FollowUpDesk::openHistory(const QString &mobile)
{
    if (mobile.trimmed().isEmpty()) {
        MessageBox::information(m_window, QStringLiteral("请先选中一个有手机号的联系人。"));
        return false;
    }
    return history().showFor(mobile);
}

void FollowUpDesk::call(const QString &mobile)
{
    const QString url = FollowUpRules::telUrl(mobile);
    if (url.isEmpty()) {
        MessageBox::information(m_window, QStringLiteral("“%1”不是可以拨打的号码。").arg(mobile));
        return;
    }
    // The phone is picked first: cancelling the choice leaves everything as it was.
    const QList<PhoneDialer::Phone> phones =
        m_dialer ? m_dialer->phones() : QList<PhoneDialer::Phone>();
    std::optional<PhoneDialer::Phone> chosen;
    if (!phones.isEmpty()) {
        chosen = choosePhone(phones, mobile);
        if (!chosen)
            return;
    }
    const QDateTime began = m_clock();
    // The record of the call goes into the editor: one being typed is
    // given up first, or the call is not made.
    if (!openHistory(mobile) || !m_history->editorFree())
        return;
    if (!chosen) {
        m_history->setStatus(QString());
        m_history->offerPhoneSwitch(false);
        showCallCard(mobile, QString());
    } else {
        const QString phone = chosen->name;
        m_history->setStatus(QStringLiteral("正在请手机“%1”拨打 %2 …").arg(phone, mobile.trimmed()));
        m_history->offerPhoneSwitch(phones.size() > 1 && chosen->id == m_chosenPhone);
        const QPointer<FollowUpDesk> self(this);
        m_dialer->dial(
            chosen->id, url.mid(4), [self, mobile, phone](bool ok, const QString &error) {
                if (!self || !self->m_history)
                    return;
                if (ok) {
                    self->m_history->setStatus(
                        QStringLiteral("手机“%1”正在拨打 %2。").arg(phone, mobile.trimmed()));
                    return;
                }
                self->m_history->setStatus(QString());
                self->showCallCard(mobile,
                                   QStringLiteral("手机“%1”未能拨号：%2").arg(phone, error));
            });
    }
    m_history->addRecord(QStringLiteral("电话"), began);
}

std::optional<PhoneDialer::Phone> FollowUpDesk::choosePhone(const QList<PhoneDialer::Phone> &phones,
                                                            const QString &mobile)
{
    if (phones.size() == 1)
        return phones.first();
    const auto kept = std::find_if(phones.cbegin(), phones.cend(),
                                   [this](const auto &phone) { return phone.id == m_chosenPhone; });
    if (kept != phones.cend())
        return *kept;
    PhoneChoiceDialog dialog(phones, mobile,
                             m_history && m_history->isVisible() ? m_history : m_window);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const PhoneDialer::Phone chosen = dialog.chosen();
    m_chosenPhone = dialog.remember() ? chosen.id : QString();
    return chosen;
}

void FollowUpDesk::showCallCard(const QString &mobile, const QString &reason)
{
    if (!m_callCard)
        m_callCard = new CallCard(m_window);
    m_callCard->showFor(mobile, FollowUpRules::telUrl(mobile), reason);
}

void FollowUpDesk::openDueList()
{
    if (!m_dueList) {
        m_dueList = new DueListDialog(m_store, windowClock(), m_window);
        connect(m_dueList, &DueListDialog::historyRequested, this, &FollowUpDesk::openHistory);
        connect(m_dueList, &DueListDialog::callRequested, this, &FollowUpDesk::call);
        connect(m_dueList, &DueListDialog::showInMainWindow, this,
                &FollowUpDesk::showInMainWindow);
        connect(m_dueList, &DueListDialog::locateRequested, this, [this](const DueEntry &entry) {
            if (entry.contactRowId <= 0) {
                MessageBox::information(m_dueList, QStringLiteral("号码 %1 已不在任何分组中。")
                                                       .arg(entry.mobile));
                return;
            }
            emit locateContact(entry.firstGroup, entry.contactRowId);
        });
    }
    m_dueList->showList();
}

void FollowUpDesk::recordsChanged()
{
    if (m_dueList && m_dueList->isVisible())
        m_dueList->reload();
    emit dueCountChanged(dueCount());
}

qsizetype FollowUpDesk::dueCount()
{
    qsizetype count = 0;
    QString error;
    return m_store.dueCount(m_clock().date(), &count, &error) == StoreResult::Ok ? count : -1;
}

QString FollowUpDesk::dueMenuText(qsizetype count)
{
    return count > 0 ? QStringLiteral("待回访名单（%1）…").arg(count)
                     : QStringLiteral("待回访名单…");
}

void FollowUpDesk::closeWindows()
{
    for (QWidget *window : std::initializer_list<QWidget *>{m_history, m_dueList, m_callCard}) {
        if (window)
            window->hide();
    }
    if (m_history)
        m_history->editor().hide();
    // It reads the file that was replaced.
    if (m_export)
        m_export->cancel();
    emit dueCountChanged(dueCount());
}

void FollowUpDesk::exportRecords()
{
    if (m_export) {
        MessageBox::information(m_window, QStringLiteral("回访记录正在导出，请稍候。"));
        return;
    }
    QString filter;
    QString path = FileDialog::saveFileName(m_window, QStringLiteral("导出回访记录"), QString(),
                                            XlsxFilter + QStringLiteral(";;") + CsvFilter, &filter);
    if (path.isEmpty())
        return;
    const bool asCsv = filter == CsvFilter;
    const QString suffix = asCsv ? QStringLiteral(".csv") : QStringLiteral(".xlsx");
    if (!path.endsWith(suffix, Qt::CaseInsensitive))
        path += suffix;
    if (QFileInfo::exists(path)
        && !MessageBox::askYesNo(m_window, QStringLiteral("文件“%1”已存在，要替换它吗？").arg(path)))
        return;
    qsizetype total = 0;
    QString error;
    m_store.recordCount(&total, &error); // only the progress bar's length
    m_export = new ExportRun(m_contacts.database().path(), path,
                             asCsv ? RecordExport::Format::Csv : RecordExport::Format::Xlsx, total,
                             m_window);
    m_export->setParent(this);
    connect(m_export, &ExportRun::finished, this,
            [this](bool ok, bool cancelled, const QString &reason) {
                const QString file = m_export->path();
                m_export->deleteLater();
                m_export = nullptr;
                if (ok)
                    MessageBox::information(m_window, QStringLiteral("回访记录导出成功！"));
                else if (cancelled)
                    MessageBox::information(m_window,
                                            QStringLiteral("导出已取消，文件“%1”没有写入。").arg(file));
                else
                    MessageBox::warning(m_window, QStringLiteral("导出回访记录失败，文件“%1”没有写成：%2")
                                                      .arg(file, reason));
            });
    m_export->start();
}
