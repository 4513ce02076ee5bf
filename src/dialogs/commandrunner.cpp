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

CommandRunner::CommandRunner(QWidget *window) : QObject(window), m_window(window) {}

CommandRunner::~CommandRunner()
{
    finishLingering();
}

bool CommandRunner::run(const std::shared_ptr<Command> &command)
{
    if (m_current)
        return false;
    m_current = command.get();
    // Switching the commands off may take the focus from the one in use.
    const QPointer<QWidget> focused = QApplication::focusWidget();
    if (m_busyHandler)
        m_busyHandler(true);
    QApplication::setOverrideCursor(Qt::BusyCursor);

    QEventLoop loop;
    ProgressDialog dialog(command->title(), command->text(), m_window);
    connect(&dialog, &ProgressDialog::cancelRequested, this, &CommandRunner::cancel);
    QTimer showDialog;
    showDialog.setSingleShot(true);
    connect(&showDialog, &QTimer::timeout, &dialog, [&dialog, &command] {
        dialog.showProgress(command->progress().done(), command->progress().total());
        dialog.show();
    });
    QTimer poll;
    connect(&poll, &QTimer::timeout, &dialog, [&dialog, &command] {
        dialog.showProgress(command->progress().done(), command->progress().total());
    });

    connect(command.get(), &Command::finished, &loop, &QEventLoop::quit);
    command->start();
    showDialog.start(dialogDelayMs);
    poll.start(progressPollMs);
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;

    if (!command->isFinished()) {
        m_lingering.push_back(command);
        connect(command.get(), &Command::finished, this, [this, done = command.get()] {
            // Dropped after the signal has been delivered everywhere.
            QMetaObject::invokeMethod(this, [this, done] {
                std::erase_if(m_lingering, [done](const auto &held) { return held.get() == done; });
            }, Qt::QueuedConnection);
        });
    }
    dialog.hide();
    QApplication::restoreOverrideCursor();
    if (m_busyHandler)
        m_busyHandler(false);
    if (focused && focused->isEnabled() && focused->isVisible())
        focused->setFocus();
    m_current = nullptr;
    emit idle();
    return command->succeeded();
}

void CommandRunner::cancel()
{
    if (!m_current)
        return;
    m_current->cancel();
    if (m_loop)
        m_loop->quit();
}

void CommandRunner::finishLingering()
{
    for (const std::shared_ptr<Command> &command : m_lingering)
        command->waitForFinished();
    m_lingering.clear();
    if (m_connection)
        m_connection->close();
}
