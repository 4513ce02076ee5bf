#pragma once

#include "sending/sendchannel.h"
#include "sending/sendpacer.h"
#include "sending/sendplan.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class BatchLog;
class OptOutList;
class PendingWrites;
class SendLedger;

// What a batch needs of the log while it runs.
struct BatchServices
{
    using Clock = std::function<QDateTime()>;

    BatchLog &log;
    SendLedger &ledger;
    OptOutList &optOuts;
    PendingWrites &writes;
    // A refusal received but not yet written to the list.
    std::function<bool(const QString &mobile)> optOutPending;
    Clock clock;
};

// Sends the waiting recipients of one batch through its devices, each device
// one message at a time at the batch's pace (its own interval and caps), the
// next recipient going to whichever device may send soonest; a number stays
// with the device that last wrote to it while that device may send today.
//
// When the program cannot know, nothing leaves: each recipient is written
// 发送中 (committed) before its message leaves and its outcome is written
// before the device takes the next; the opt-out list and the caps must be
// read, not guessed; while any write of the send path waits (a busy or full
// disk) nothing is sent. A device that fails five times in a row, goes away
// or cannot be made ready leaves the batch, its recipients going to the
// others; with none left the batch pauses and says why. One that comes back
// joins again (and a batch paused only because every device went away goes
// on by itself).
class BatchRunner : public QObject
{
    Q_OBJECT

public:
    enum class Phase { Idle, Running, Waiting, Paused, Stopped, Finished };

    static constexpr int FailuresInARowToLeave = 5;

    struct Progress
    {
        int sent = 0; // left the device (sent, delivered or not, handed to the phone)
        int failed = 0;
        int unconfirmed = 0;
        int remaining = 0;
    };

    // One device of the batch, as the dialog shows it.
    struct Device
    {
        QString id;
        QString label;
        int sent = 0;   // in this run
        int failed = 0; // in this run
        bool inBatch = true;
        QString status; // what it waits for, or why it left
    };

    // channels: one per device of the batch; the runner owns them.
    BatchRunner(const BatchServices &services, qint64 batch, const BatchSettings &settings,
                const QList<SendChannel *> &channels, QObject *parent = nullptr);
    ~BatchRunner() override;

    qint64 batch() const { return m_batch; }
    const BatchSettings &settings() const { return m_settings; }
    Phase phase() const { return m_phase; }
    // A message is out, or the batch goes on by itself.
    bool isActive() const;
    Progress progress() const { return m_progress; }
    QList<Device> devices() const;
    // What the batch waits for, or why it paused; "" while it simply runs.
    QString statusText() const { return m_statusText; }
    // When the waiting recipients would all be sent at this pace, and each
    // device's share (in the order of devices()); worked out again at most
    // every few seconds.
    SendPlan::Result plan() const;

    void start();
    void pause();
    void resume();
    void stop();
    // The program is going: nothing more leaves, a message under way is left
    // 发送中 for the next start to settle, and the batch stays offered.
    void stopForExit();

signals:
    void progressChanged();
    void phaseChanged();

private:
    struct Lane;
    enum class Standing { In, Gone, Failing, Refused };

    void readCounts();
    void step(Lane &lane);
    void stepAll();
    void schedule(Lane &lane, qint64 ms);
    void prepare(Lane &lane);
    bool takeNext(Lane &lane, const QDateTime &now);
    void send(Lane &lane, const SendRecord &record);
    void onResult(Lane &lane, SendRecord record, const SendResult &result);
    void recordWritten(Lane *lane, RecordState state);
    void leave(Lane &lane, Standing standing, const QString &reason);
    void availabilityChanged(Lane &lane);
    void noLaneLeft();
    void finishIfDone();
    // A read or write failed: Busy tries the lane again soon, anything else
    // pauses the batch with the cause.
    void readFailed(Lane &lane, LogResult result, const QString &error);
    QStringList keptBy() const;
    bool anyInFlight() const;
    void showWaiting();
    // A write of the send path waits for a busy file.
    void showWritesWaiting();
    void enter(Phase phase, const QString &statusText = QString());
    void writeStatus(BatchStatus status);

    BatchServices m_services;
    qint64 m_batch;
    BatchSettings m_settings;
    std::vector<std::unique_ptr<Lane>> m_lanes;

    Phase m_phase = Phase::Idle;
    QString m_statusText;
    std::optional<BatchStatus> m_writtenStatus;
    Progress m_progress;
    QTimer m_startRetry;
    struct After
    {
        Phase phase;
        QString text;
    };
    std::optional<After> m_after; // pause or stop once the messages in flight are done
    bool m_exiting = false;
    bool m_pausedForGone = false; // paused only because every device went away
    mutable SendPlan::Result m_plan;
    mutable QElapsedTimer m_planAge;
    mutable int m_planRemaining = -1;
};
