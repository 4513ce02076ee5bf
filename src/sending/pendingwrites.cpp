#include "sending/pendingwrites.h"

PendingWrites::PendingWrites(QObject *parent)
    : QObject(parent)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &PendingWrites::flush);
}

void PendingWrites::add(Write write, Written written)
{
    m_writes.append({std::move(write), std::move(written)});
    if (!m_retry.isActive())
        flush();
}

void PendingWrites::retryNow()
{
    m_retry.stop();
    flush();
}

void PendingWrites::flush()
{
    // A written() handler may add writes: they join the loop under way.
    if (m_flushing)
        return;
    m_flushing = true;
    const QString before = m_problem;
    const bool wasFailing = m_failing;
    const bool wasEmpty = m_writes.isEmpty();
    bool wrote = false;
    while (!m_writes.isEmpty()) {
        QString error;
        const LogResult result = m_writes.first().write(&error);
        if (result != LogResult::Ok) {
            m_problem = error;
            m_failing = result == LogResult::Failed;
            m_retry.start(m_failing ? FailedRetryMs : BusyRetryMs);
            break;
        }
        const Written written = std::move(m_writes.first().written);
        m_writes.removeFirst();
        m_problem.clear();
        m_failing = false;
        wrote = true;
        if (written)
            written();
    }
    m_flushing = false;
    if (wrote)
        emit written();
    if (m_problem != before || m_failing != wasFailing || m_writes.isEmpty() != wasEmpty)
        emit stateChanged();
}
