#pragma once

#include "sending/log/logdatabase.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// The one way the send path writes what it must not lose (a received reply,
// an opt-out, a delivery report, a recipient's outcome, a batch's status):
// tried at once, then again, in order, while the file is busy (often) or
// cannot be written (full disk, read-only folder: now and then), and never
// dropped. While a write fails, problem() says why; a batch sends nothing
// while any write waits.
class PendingWrites : public QObject
{
    Q_OBJECT

public:
    // How soon a busy file is tried again, everywhere in the send path.
    static constexpr int BusyRetryMs = 500;
    static constexpr int FailedRetryMs = 5000;

    using Write = std::function<LogResult(QString *error)>;
    using Written = std::function<void()>;

    explicit PendingWrites(QObject *parent = nullptr);

    // Runs write after those before it; written runs once it went in.
    void add(Write write, Written written = {});
    bool isEmpty() const { return m_writes.isEmpty(); }
    // Why the first write has not gone in yet ("" while none waits for a
    // reason): the file busy, or failing.
    QString problem() const { return m_problem; }
    // The first write failed (not merely a busy file): a batch pauses.
    bool isFailing() const { return m_failing; }
    // Tries the waiting writes now (the user pressed 继续).
    void retryNow();

signals:
    // Empty again, or the problem changed.
    void stateChanged();
    // A write went in: the log changed.
    void written();

private:
    void flush();

    struct Entry
    {
        Write write;
        Written written;
    };
    QList<Entry> m_writes;
    QString m_problem;
    bool m_failing = false;
    QTimer m_retry;
    bool m_flushing = false;
};
