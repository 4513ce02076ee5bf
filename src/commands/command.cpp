#include "commands/command.h"

#include <QThread>

Command::Command(QObject *parent) : QObject(parent) {}

Command::~Command()
{
    if (!m_thread)
        return;
    m_progress.cancel();
    m_thread->wait();
    delete m_thread;
}

void Command::start()
{
    if (m_thread || m_finished)
        return;
    m_thread = QThread::create([this] { m_workSucceeded = run(m_progress, &m_error); });
    // Queued to this object's thread: the outcome is read there.
    connect(m_thread, &QThread::finished, this, &Command::threadFinished);
    m_thread->start();
}

void Command::cancel()
{
    m_progress.cancel();
}

void Command::waitForFinished()
{
    if (m_thread)
        threadFinished();
}

QString Command::error() const
{
    if (wasCancelled())
        return WorkProgress::cancelledMessage();
    return m_finished ? m_error : QString();
}

void Command::threadFinished()
{
    if (!m_thread) // waited for already
        return;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_succeeded = m_workSucceeded;
    m_finished = true;
    emit finished();
}
