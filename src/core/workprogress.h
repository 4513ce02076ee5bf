#pragma once

#include <QString>

#include <atomic>

// How far a piece of long work has come, and whether it is to stop. The
// thread doing the work writes it; any other thread reads it and may cancel.
// Lock-free, so that the work can report every few rows for next to nothing.
class WorkProgress
{
public:
    // total <= 0: not known (yet).
    void setTotal(qint64 total) { m_total.store(total, std::memory_order_relaxed); }
    void setDone(qint64 done) { m_done.store(done, std::memory_order_relaxed); }
    qint64 total() const { return m_total.load(std::memory_order_relaxed); }
    qint64 done() const { return m_done.load(std::memory_order_relaxed); }

    void cancel() { m_cancelled.store(true, std::memory_order_relaxed); }
    bool isCancelled() const { return m_cancelled.load(std::memory_order_relaxed); }

    // Reports done; false when the work is to stop.
    bool advance(qint64 done)
    {
        setDone(done);
        return !isCancelled();
    }

    // The reason a cancelled piece of work gives for failing.
    static QString cancelledMessage() { return QStringLiteral("已取消"); }

private:
    std::atomic<qint64> m_total{0};
    std::atomic<qint64> m_done{0};
    std::atomic<bool> m_cancelled{false};
};
