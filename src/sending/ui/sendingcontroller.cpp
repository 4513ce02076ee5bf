#include "sending/ui/sendingcontroller.h"

#include "desktop/messagebox.h"
#include "sending/batchstarter.h"
#include "sending/sendingservice.h"
#include "sending/ui/optoutwindow.h"
#include "sending/ui/senddialog.h"
#include "sending/ui/sendlogwindow.h"

namespace {

void showWindow(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

SendingController::SendingController(QWidget &window, SendingService &service,
                                     CommandQueue &commands)
    : QObject(&window)
    , m_window(window)
    , m_service(service)
    , m_starter(new BatchStarter(service, commands, this))
{
    connect(&service, &SendingService::runnerChanged, this, &SendingController::watchRunner);
}

SendingController::~SendingController() = default;

void SendingController::watchRunner()
{
    BatchRunner *runner = m_service.runner();
    if (runner && runner != m_watched) {
        m_watched = runner;
        const auto changed = [this] { emit sendMenuTextChanged(sendMenuText()); };
        connect(runner, &BatchRunner::progressChanged, this, changed);
        connect(runner, &BatchRunner::phaseChanged, this, changed);
    }
    emit sendMenuTextChanged(sendMenuText());
}

QString SendingController::sendMenuText() const
{
    QString plain = QStringLiteral("直接发送…");
    const BatchRunner *runner = m_service.runner();
    if (!runner)
        return plain;
    const BatchRunner::Progress progress = runner->progress();
    const int total = progress.sent + progress.failed + progress.unconfirmed + progress.remaining;
    const int done = total - progress.remaining;
    switch (runner->phase()) {
    case BatchRunner::Phase::Running:
    case BatchRunner::Phase::Waiting:
        return QStringLiteral("%1（发送中 %2/%3）").arg(plain).arg(done).arg(total);
    case BatchRunner::Phase::Paused:
        return QStringLiteral("%1（已暂停 %2/%3）").arg(plain).arg(done).arg(total);
    default:
        return plain;
    }
}

void SendingController::stopForTermination()
{
    m_terminating = true;
    m_service.stopForExit();
}

bool SendingController::mayClose()
{
    if (!m_service.isSending() || m_terminating || m_service.isExiting())
        return true;
    if (!MessageBox::askYesNo(&m_window, QStringLiteral("正在发送短信。是否停止发送并退出？\n"
                                                        "没发出的短信下次启动时会问你是否继续。")))
        return false;
    m_service.stopForExit();
    return true;
}

void SendingController::offerUnfinished()
{
    m_service.settleInterrupted([this] {
        QList<QPair<qint64, int>> unfinished;
        QString error;
        if (m_service.log().unfinishedBatches(&unfinished, &error) != LogResult::Ok) {
            MessageBox::warning(&m_window, QStringLiteral("无法查看上次是否有没发完的短信：%1").arg(error));
        } else if (!unfinished.isEmpty()) {
            int waiting = 0;
            for (const auto &[batch, count] : std::as_const(unfinished))
                waiting += count;
            QString question = QStringLiteral("上次的发送还有 %1 人没有发出，是否继续？").arg(waiting);
            if (unfinished.size() > 1)
                question = QStringLiteral("上次的发送还有 %1 人没有发出（共 %2 批），是否继续？")
                               .arg(waiting)
                               .arg(unfinished.size());
            const bool resume = MessageBox::askYesNo(&m_window, question);
            for (const auto &[batch, count] : std::as_const(unfinished)) {
                if (resume) {
                    m_starter->continueBatch(batch, [this](const BatchStarter::Outcome &outcome) {
                        if (!outcome.error.isEmpty())
                            MessageBox::warning(&m_window, outcome.error);
                        else if (outcome.runner)
                            showRunner(outcome.runner);
                    });
                } else {
                    // Declined: kept in the log, continued from there by hand.
                    const qint64 id = batch;
                    m_service.writes().add([this, id](QString *writeError) {
                        return m_service.log().setStatus(id, BatchStatus::Dropped, writeError);
                    });
                }
            }
        }
        offerMissedSchedules();
    });
}

void SendingController::offerMissedSchedules()
{
    QList<BatchSummary> scheduled;
    QString error;
    if (m_service.log().scheduledBatches(&scheduled, &error) != LogResult::Ok) {
        MessageBox::warning(&m_window, QStringLiteral("无法查看定时发送的短信：%1").arg(error));
        return;
    }
    const QDateTime now = m_service.clock()();
    for (const BatchSummary &batch : std::as_const(scheduled)) {
        if (batch.scheduledAt > now)
            continue;
        const QMessageBox::StandardButton answer = MessageBox::askYesNoLater(
            &m_window, QStringLiteral("定时发送的短信（%1 人，原定 %2 发送）还没有发出，是否现在发送？")
                           .arg(batch.count(RecordState::Waiting))
                           .arg(batch.scheduledAt.toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
        if (answer == QMessageBox::Yes) {
            m_starter->continueBatch(batch.id, [this](const BatchStarter::Outcome &outcome) {
                if (!outcome.error.isEmpty())
                    MessageBox::warning(&m_window, outcome.error);
                else if (outcome.runner)
                    showRunner(outcome.runner);
            });
        } else if (answer == QMessageBox::No) {
            const qint64 id = batch.id;
            m_service.writes().add([this, id](QString *writeError) {
                return m_service.log().setStatus(id, BatchStatus::Dropped, writeError);
            });
        }
        // 以后再说: it waits, and is asked about at the next start.
    }
    m_service.scheduleChanged();
}

SendDialog *SendingController::ensureSendDialog()
{
    if (!m_sendDialog) {
        m_sendDialog = new SendDialog(m_service, *m_starter, &m_window);
        m_sendDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    return m_sendDialog;
}

void SendingController::showRunner(BatchRunner *runner)
{
    SendDialog *dialog = ensureSendDialog();
    dialog->follow(runner);
    showWindow(dialog);
}

void SendingController::openSendDialog(const ContactList &workingList, const QString &smsText)
{
    SendDialog *dialog = ensureSendDialog();
    if (!dialog->isBusy() && m_service.runner() && m_service.runner()->isActive()) {
        // A batch runs in the background: the dialog shows it first.
        dialog->follow(m_service.runner());
    } else {
        dialog->prepare(workingList, smsText);
    }
    showWindow(dialog);
}

void SendingController::openLogWindow()
{
    if (!m_logWindow) {
        m_logWindow = new SendLogWindow(m_service, *m_starter, &m_window);
        m_logWindow->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_logWindow, &SendLogWindow::batchStarted, this, &SendingController::showRunner);
    }
    showWindow(m_logWindow);
}

void SendingController::openOptOutWindow()
{
    if (!m_optOutWindow) {
        m_optOutWindow = new OptOutWindow(m_service, &m_window);
        m_optOutWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    showWindow(m_optOutWindow);
}
