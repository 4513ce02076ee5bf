#include "sending/ui/sendingcontroller.h"

#include "desktop/messagebox.h"
#include "sending/sendinghub.h"

namespace {

void showWindow(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

SendingController::SendingController(SendingHub &hub, CommandRunner &commands, QWidget &window)
    : QObject(&window)
    , m_hub(hub)
    , m_commands(commands)
    , m_window(window)
{
}

void SendingController::stopForTermination()
{
    m_terminating = true;
    if (m_hub.runner())
        m_hub.runner()->stop();
}

bool SendingController::mayClose()
{
    if (!m_hub.isSending() || m_terminating)
        return true;
    if (!MessageBox::askYesNo(&m_window, QStringLiteral("正在发送短信。是否停止发送并退出？")))
        return false;
    m_hub.runner()->stop();
    return true;
}

void SendingController::offerUnfinished()
{
    m_hub.settleInterrupted([this] {
        QList<qint64> batches;
        int waiting = 0;
        if (!m_hub.log().interruptedBatches(&batches, &waiting, nullptr) || batches.isEmpty())
            return;
        const qint64 newest = batches.last();
        const bool resume = waiting > 0
                            && MessageBox::askYesNo(
                                &m_window, QStringLiteral("上次的发送还有 %1 人没有发出，是否继续？")
                                               .arg(waiting));
        for (qint64 batch : std::as_const(batches)) {
            if (!(resume && batch == newest))
                m_hub.log().setBatchStatus(batch, SendLog::interrupted(), nullptr);
        }
        if (resume)
            continueBatch(newest);
    });
}

SendDialog *SendingController::ensureSendDialog()
{
    if (!m_sendDialog) {
        m_sendDialog = new SendDialog(m_hub, m_commands, &m_window);
        m_sendDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    return m_sendDialog;
}

void SendingController::openSendDialog(const ContactList &workingList, const QString &smsText)
{
    SendDialog *dialog = ensureSendDialog();
    dialog->prepare(workingList, smsText);
    showWindow(dialog);
}

void SendingController::continueBatch(qint64 batch)
{
    if (m_hub.isSending()) {
        MessageBox::information(&m_window, QStringLiteral("正在发送另一批短信，请等它发完或停止后再继续。"));
        return;
    }
    SendDialog *dialog = m_sendDialog && !m_sendDialog->hasStarted() ? m_sendDialog.data() : nullptr;
    if (!dialog) {
        if (m_sendDialog)
            m_sendDialog->close();
        m_sendDialog = nullptr;
        dialog = ensureSendDialog();
    }
    dialog->prepareContinuation(batch);
    showWindow(dialog);
}

void SendingController::openLogWindow()
{
    if (!m_logWindow) {
        m_logWindow = new SendLogWindow(m_hub, &m_window);
        m_logWindow->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_logWindow, &SendLogWindow::continueRequested, this,
                &SendingController::continueBatch);
    }
    showWindow(m_logWindow);
}

void SendingController::openOptOutWindow()
{
    if (!m_optOutWindow) {
        m_optOutWindow = new OptOutWindow(m_hub, &m_window);
        m_optOutWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    showWindow(m_optOutWindow);
}
