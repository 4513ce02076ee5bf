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
    if (m_thread)
        return;
    m_thread = QThread::create([this] { m_succeeded = run(m_progress, &m_error); });
    // Queued to this object's thread: the outcome is read there.
    connect(m_thread, &QThread::finished, this, &Command::threadFinished);
    m_thread->start();
}

void Command::cancel()
{
    m_progress.cancel();
}

void Command::threadFinished()
{
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    // Work that was done before the cancel came stands.
    m_cancelled = !m_succeeded && m_progress.isCancelled();
    if (m_cancelled)
        m_error = WorkProgress::cancelledMessage();
    emit finished();
}
