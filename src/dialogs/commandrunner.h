#pragma once

#include "commands/commandqueue.h"

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class Command;
class WorkerConnection;
class QWidget;

// Runs a command for a window, the window's events going on meanwhile (it
// repaints and answers). While it runs, the window's other commands are
// switched off through the busy handler and the busy cursor is shown; when
// the work lasts longer than a moment a progress dialog with 取消 appears.
// The one place the program shows that it is busy.
//
// start() returns at once and hands the outcome to its done; run() waits for
// it (the window's own commands read best that way).
//
// 取消 hands the window back at once: a command whose thread needs a moment
// more to wind down (a library finishing a file it will then throw away, a
// rollback) stays here until it has, and counts as cancelled meanwhile.
class CommandRunner : public QObject, public CommandQueue
{
    Q_OBJECT

public:
    // The work that lasts up to this long shows no progress dialog.
    static constexpr int dialogDelayMs = 500;

    explicit CommandRunner(QWidget *window);
    // A command still running is cancelled (its done is not called); then
    // waits for the commands winding down.
    ~CommandRunner() override;

    // The connection the window's commands work on the database through
    // (none until set).
    void setConnection(std::shared_ptr<WorkerConnection> connection)
    {
        m_connection = std::move(connection);
    }
    const std::shared_ptr<WorkerConnection> &connection() const { return m_connection; }

    // Called with true before a command starts and with false after it ended.
    void setBusyHandler(std::function<void(bool busy)> handler)
    {
        m_busyHandler = std::move(handler);
    }

    bool start(std::shared_ptr<Command> command, Done done) override;
    // Starts command and returns when it has finished or was cancelled, with
    // its success. Refused (false, the command not started) while another
    // one runs.
    bool run(const std::shared_ptr<Command> &command);

    bool isBusy() const override { return m_running != nullptr; }
    // Asks the running command to stop.
    void cancel() override;
    // Blocks until the cancelled commands have wound down, then closes the
    // commands' connection (the next command opens it again): before the
    // database file is replaced and before the exit copies it.
    void finishLingering();

signals:
    // A command ended and the window's commands are on again (before its
    // done runs).
    void idle();

private:
    struct Running;
    // The command of this start ended or was cancelled (once; a later call
    // for the same start does nothing).
    void finish(quint64 serial);
    // The window's commands on again, then done.
    void handBack();

    QWidget *m_window;
    std::function<void(bool)> m_busyHandler;
    std::shared_ptr<WorkerConnection> m_connection;
    std::unique_ptr<Running> m_running;
    quint64 m_serial = 0; // counts the starts
    std::vector<std::shared_ptr<Command>> m_lingering;
};
