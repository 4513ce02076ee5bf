#pragma once

#include "core/workprogress.h"

#include <QObject>
#include <QString>

class QThread;

// One piece of long work behind a menu or button, run on a thread of its own
// so that the window keeps answering. It reports how far it got through
// progress() and stops soon after cancel(); a cancelled command leaves files
// and database as they were. The window starts it, waits for finished() and
// then reads the outcome; a command object runs once.
//
// The database on a worker thread: the program's own connection belongs to
// the window's thread, which keeps writing through it (the SMS text, the send
// log) while a command runs. A transaction opened on that connection by a
// worker would take those writes in, and a cancel would roll them back. So a
// command that writes, or reads at length, works through the commands' own
// connection to the same file (WorkerConnection; Database::open sets the busy
// timeout, so that it waits for the other connection's short writes instead
// of failing). The contacts in the window's model are read on the window's
// thread and handed to the command as a copy.
class Command : public QObject
{
    Q_OBJECT

public:
    explicit Command(QObject *parent = nullptr);
    // A command still running is cancelled and waited for.
    ~Command() override;

    // For the progress dialog: the command's name and what it is doing.
    virtual QString title() const = 0;
    virtual QString text() const = 0;

    void start();
    // Asks the work to stop. From then on the command counts as cancelled
    // (unless it had succeeded already); its thread may take a moment more to
    // wind down, and finished() follows.
    void cancel();
    // Blocks until the work has ended; finished() is emitted here if it was not yet.
    void waitForFinished();

    bool isRunning() const { return m_thread != nullptr; }
    bool isFinished() const { return m_finished; }
    const WorkProgress &progress() const { return m_progress; }

    // Done completely, or why not. A cancelled command has not succeeded and
    // its error is WorkProgress::cancelledMessage(); anything else the
    // command holds is read only once it succeeded.
    bool succeeded() const { return m_finished && m_succeeded; }
    bool wasCancelled() const { return m_progress.isCancelled() && !succeeded(); }
    QString error() const;

signals:
    void finished();

protected:
    // The work, on the worker thread: reports to progress, stops when it is
    // cancelled, and returns false with error on failure or cancel.
    virtual bool run(WorkProgress &progress, QString *error) = 0;

private:
    void threadFinished();

    WorkProgress m_progress;
    QThread *m_thread = nullptr;
    bool m_finished = false;
    bool m_succeeded = false;
    bool m_workSucceeded = false; // written by the worker thread
    QString m_error;              // written by the worker thread
};
