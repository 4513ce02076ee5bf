#pragma once

#include "core/contact.h"
#include "sending/batchrunner.h"
#include "sending/ui/optoutwindow.h"
#include "sending/ui/senddialog.h"
#include "sending/ui/sendlogwindow.h"

#include <QObject>
#include <QPointer>
#include <QString>


class BatchStarter;
class CommandQueue;
class QWidget;
class SendingService;

// The windows of sending as the 短信 menu reaches them: the send dialog with
// the working list and the SMS text, the log window and the opt-out list. At
// start it settles what a stopped program left and offers what is left to
// send; at exit it asks before a running batch is stopped, and a batch that
// runs with its dialog closed shows in the menu item.
class SendingController : public QObject
{
    Q_OBJECT

public:
    // window parents the dialogs; commands writes new batches.
    SendingController(QWidget &window, SendingService &service, CommandQueue &commands);
    ~SendingController() override;

    // false: a batch runs and the user chose to keep it running.
    bool mayClose();
    // The program was told to stop: nothing more leaves, nothing is asked.
    void stopForTermination();
    // Settles what a stopped program left 发送中, then offers every batch
    // that still has recipients to send ("上次的发送还有 N 人没有发出，是否
    // 继续？") and each scheduled batch whose time passed meanwhile.
    void offerUnfinished();

    void openSendDialog(const ContactList &workingList, const QString &smsText);
    void openLogWindow();
    void openOptOutWindow();

    SendDialog *sendDialog() const { return m_sendDialog; }
    BatchStarter &starter() { return *m_starter; }
    // "直接发送…", with the progress of a batch that runs or is paused.
    QString sendMenuText() const;

signals:
    void sendMenuTextChanged(const QString &text);

private:
    SendDialog *ensureSendDialog();
    void showRunner(BatchRunner *runner);
    void offerMissedSchedules();
    void watchRunner();

    QWidget &m_window;
    SendingService &m_service;
    BatchStarter *m_starter;
    QPointer<SendDialog> m_sendDialog;
    QPointer<SendLogWindow> m_logWindow;
    QPointer<OptOutWindow> m_optOutWindow;
    QPointer<BatchRunner> m_watched; // the runner the menu item follows
    bool m_terminating = false;
};
