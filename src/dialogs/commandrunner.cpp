#include "dialogs/commandrunner.h"

#include "commands/command.h"
#include "commands/workerconnection.h"
#include "dialogs/progressdialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

namespace {

// The bar follows the work at this rate: often enough to look smooth, seldom
// enough to cost the window nothing.
constexpr int progressPollMs = 50;

} // namespace

// The command that runs, with what shows it.
struct CommandRunner::Running
{
    quint64 serial = 0;
    std::shared_ptr<Command> command;
    Done done;
    QEventLoop *waiter = nullptr; // of run(), which hands back itself
    bool cancelled = false;
    bool ended = false;        // finished or cancelled, not yet handed back
    QPointer<QWidget> focused; // had the focus before the commands went off
    QPointer<ProgressDialog> dialog;
    QTimer showDialog;
    QTimer poll;

    ~Running() { delete dialog.data(); }
};

CommandRunner::CommandRunner(QWidget *window)
    : QObject(window)
    , m_window(window)
{
}

CommandRunner::~CommandRunner()
{
    if (m_running) {
        const std::shared_ptr<Command> command = m_running->command;
        m_running.reset();
        command->cancel();
        command->waitForFinished();
        QApplication::restoreOverrideCursor();
    }
    finishLingering();
}

bool CommandRunner::start(std::shared_ptr<Command> command, Done done)
{
    if (m_running || !command)
        return false;
    m_running = std::make_unique<Running>();
    Running &running = *m_running;
    running.serial = ++m_serial;
    running.command = std::move(command);
    running.done = std::move(done);
    // Switching the commands off may take the focus from the one in use.
    running.focused = QApplication::focusWidget();
    if (m_busyHandler)
        m_busyHandler(true);
    QApplication::setOverrideCursor(Qt::BusyCursor);

    Command *work = running.command.get();
    running.dialog = new ProgressDialog(work->title(), work->text(), m_window);
    ProgressDialog *dialog = running.dialog;
    connect(dialog, &ProgressDialog::cancelRequested, this, &CommandRunner::cancel);
    running.showDialog.setSingleShot(true);
    connect(&running.showDialog, &QTimer::timeout, dialog, [dialog, work] {
        dialog->showProgress(work->progress().done(), work->progress().total());
        dialog->show();
    });
    connect(&running.poll, &QTimer::timeout, dialog, [dialog, work] {
        dialog->showProgress(work->progress().done(), work->progress().total());
    });
    connect(work, &Command::finished, this, [this, serial = running.serial] { finish(serial); });
    work->start();
    running.showDialog.start(dialogDelayMs);
    running.poll.start(progressPollMs);
    return true;
}

bool CommandRunner::run(const std::shared_ptr<Command> &command)
{
    if (!start(command, nullptr))
        return false;
    QEventLoop loop;
    m_running->waiter = &loop;
    loop.exec();
    // After the loop: the window's events wait until the caller has read the
    // outcome, so no click on a command switched on again comes in between.
    handBack();
    return command->succeeded();
}

void CommandRunner::cancel()
{
    if (!m_running || m_running->ended || m_running->cancelled)
        return;
    m_running->cancelled = true;
    m_running->command->cancel();
    // The window is handed back without waiting for the thread; done runs
    // later, never inside cancel().
    if (m_running->waiter)
        finish(m_running->serial);
    else
        QMetaObject::invokeMethod(
            this, [this, serial = m_running->serial] { finish(serial); }, Qt::QueuedConnection);
}

void CommandRunner::finish(quint64 serial)
{
    if (!m_running || m_running->serial != serial || m_running->ended)
        return;
    m_running->ended = true;
    if (m_running->waiter)
        m_running->waiter->quit();
    else
        handBack();
}

void CommandRunner::handBack()
{
    Running &running = *m_running;
    const std::shared_ptr<Command> command = running.command;
    if (!command->isFinished()) {
        m_lingering.push_back(command);
        connect(command.get(), &Command::finished, this, [this, ended = command.get()] {
            // Dropped after the signal has been delivered everywhere.
            QMetaObject::invokeMethod(
                this,
                [this, ended] {
                    std::erase_if(m_lingering,
                                  [ended](const auto &held) { return held.get() == ended; });
                },
                Qt::QueuedConnection);
        });
    }
    running.showDialog.stop();
    running.poll.stop();
    if (running.dialog)
        running.dialog->hide();
    QApplication::restoreOverrideCursor();
    if (m_busyHandler)
        m_busyHandler(false);
    if (running.focused && running.focused->isEnabled() && running.focused->isVisible())
        running.focused->setFocus();
    const Done done = std::move(running.done);
    // Gone before done runs, which may start the next command.
    m_running.reset();
    emit idle();
    if (done)
        done(*command);
}

void CommandRunner::finishLingering()
{
    for (const std::shared_ptr<Command> &command : m_lingering)
        command->waitForFinished();
    m_lingering.clear();
    if (m_connection)
        m_connection->close();
}
