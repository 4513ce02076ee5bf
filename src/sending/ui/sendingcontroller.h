#pragma once

#include "sending/ui/optoutwindow.h"
#include "sending/ui/senddialog.h"
#include "sending/ui/sendlogwindow.h"

#include <QObject>
#include <QPointer>

class CommandRunner;
class SendingHub;
class QWidget;

// What the 短信 menu opens: the send dialog with the ticked contacts and the
// SMS text, the log window and the opt-out list, each over window; asks
// before the program closes while a batch runs; offers an interrupted batch
// at start. A new batch is written to the log through commands, the runner
// of the window's own commands.
class SendingController : public QObject
{
    Q_OBJECT

public:
    SendingController(SendingHub &hub, CommandRunner &commands, QWidget &window);

    // false: a batch runs and the user chose to keep it running.
    bool mayClose();
    // The program was told to stop: a running batch stops without a question.
    void stopForTermination();
    // Settles what a stopped program left 发送中, then offers to continue
    // an interrupted batch ("上次的发送还有 N 人没有发出，是否继续？").
    void offerUnfinished();

    // The contacts of the working list (their ticks decide who) and the text.
    void openSendDialog(const ContactList &workingList, const QString &smsText);
    void continueBatch(qint64 batch);
    void openLogWindow();
    void openOptOutWindow();

    SendDialog *sendDialog() const { return m_sendDialog; }

private:
    SendDialog *ensureSendDialog();

    SendingHub &m_hub;
    CommandRunner &m_commands;
    QWidget &m_window;
    QPointer<SendDialog> m_sendDialog;
    QPointer<SendLogWindow> m_logWindow;
    QPointer<OptOutWindow> m_optOutWindow;
    bool m_terminating = false;
};
