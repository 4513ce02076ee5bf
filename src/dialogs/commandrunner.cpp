#include "dialogs/commandrunner.h"

#include "commands/command.h"
#include "dialogs/progressdialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

namespace {

// The bar follows the work at this rate: often enough to look smooth, seldom
// enough to cost the window nothing.
constexpr int progressPollMs = 50;

} // namespace

CommandRunner::CommandRunner(QWidget *window) : QObject(window), m_window(window) {}

bool CommandRunner::run(Command &command)
{
    if (m_current)
        return false;
    m_current = &command;
    if (m_busyHandler)
        m_busyHandler(true);
    QApplication::setOverrideCursor(Qt::BusyCursor);

    ProgressDialog dialog(command.title(), command.text(), m_window);
    connect(&dialog, &ProgressDialog::cancelRequested, &command, &Command::cancel);
    QTimer showDialog;
    showDialog.setSingleShot(true);
    connect(&showDialog, &QTimer::timeout, &dialog, [&dialog, &command] {
        dialog.showProgress(command.progress().done(), command.progress().total());
        dialog.show();
    });
    QTimer poll;
    connect(&poll, &QTimer::timeout, &dialog, [&dialog, &command] {
        dialog.showProgress(command.progress().done(), command.progress().total());
    });

    QEventLoop loop;
    connect(&command, &Command::finished, &loop, &QEventLoop::quit);
    command.start();
    showDialog.start(dialogDelayMs);
    poll.start(progressPollMs);
    loop.exec();

    dialog.hide();
    QApplication::restoreOverrideCursor();
    if (m_busyHandler)
        m_busyHandler(false);
    m_current = nullptr;
    emit idle();
    return command.succeeded();
}

void CommandRunner::cancel()
{
    if (m_current)
        m_current->cancel();
}
