#pragma once

#include "sending/sendchannel.h"
#include "sending/sendlog.h"
#include "sending/sendpacer.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>

// Sends the waiting recipients of one batch through one channel, one at a
// time, at the batch's pace. Each recipient is written 发送中 (committed)
// before its message leaves, and its outcome is written before the next one
// is taken, so a crash leaves at most one recipient whose fate is unknown.
// A busy database is tried again on a timer; the window never waits for it.
class BatchRunner : public QObject
{
    Q_OBJECT

public:
    enum class Phase { Idle, Running, Waiting, Paused, Stopped, Finished };
    using Clock = std::function<QDateTime()>;

    static constexpr int FailuresInARowToPause = 5;

    struct Progress
    {
        int sent = 0; // left the device (sent, delivered or not, handed to the phone)
        int failed = 0;
        int unconfirmed = 0;
        int remaining = 0;
    };

    BatchRunner(SendLog &log, qint64 batch, const BatchSettings &settings, SendChannel *channel,
                Clock clock = &QDateTime::currentDateTime, QObject *parent = nullptr);

    qint64 batch() const { return m_batch; }
    Phase phase() const { return m_phase; }
    // A message is out or the batch goes on by itself.
    bool isActive() const { return m_phase == Phase::Running || m_phase == Phase::Waiting || m_inFlight; }
    Progress progress() const { return m_progress; }
    // What the batch waits for, or why it paused; "" while it simply runs.
    QString statusText() const { return m_statusText; }
    // Seconds the remaining recipients still need at this pace (-1: unknown).
    qint64 secondsLeft() const;

    void start();
    void pause();
    void resume();
    void stop();

signals:
    void progressChanged();
    void phaseChanged();

private:
    void step();
    void sendRecord(const SendRecord &record);
    void onResult(const SendResult &result);
    void writeOutcome();
    void outcomeWritten();
    void enter(Phase phase, const QString &statusText = QString());
    void writeBatchStatus(const QString &status);
    void scheduleStep(qint64 ms);

    SendLog &m_log;
    qint64 m_batch;
    BatchSettings m_settings;
    QPointer<SendChannel> m_channel;
    Clock m_clock;
    SendPacer m_pacer;
    QTimer m_timer;

    Phase m_phase = Phase::Idle;
    QString m_statusText;
    QString m_writtenStatus; // the batch's status as last written
    Progress m_progress;
    qint64 m_cursor = 0; // the last recipient taken
    bool m_inFlight = false;
    std::optional<SendRecord> m_unwritten; // an outcome still to be written
    struct After
    {
        Phase phase;
        QString text;
    };
    std::optional<After> m_after; // pause or stop once the message in flight is done
    int m_failuresInARow = 0;
    QString m_lastFailure;
    qint64 m_sendMsTotal = 0;
    int m_sendsTimed = 0;
    QDateTime m_sendStarted;
};
