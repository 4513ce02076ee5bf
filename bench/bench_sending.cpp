// A batch of 100,000 recipients at pace 0 without caps:
//  1. preparing it at 开始发送 (its rows written to the send log): the time
//     the window's thread is held, when the rows are written on it and when
//     a command writes them on a worker thread through its own connection
//     (the longest pause between turns of the event loop meanwhile), each on
//     a fresh file; the command's whole time against the same rows in one
//     plain transaction;
//  2. the program's own time per message (the runner: the log's writes, the
//     opt-out check, the caps read from the ledger) with a channel that
//     answers at once; wall time and the thread's CPU time;
//  3. the resident memory every 1,000 messages.
//   bench_sending [recipients] [messages sent]
//
// With --real-modem, the real ModemManager with our modem emulator behind it
// (tests/support/modemrig.h; root needed), no delay on the modem's side, pace
// 0: messages per second through the program (a batch run by the sending
// service, as an ordinary user whom a polkit rule lets through), through the
// modem link alone, and through mmcli creating and sending on the same modem
// in the same run; and the time from 开始发送 (the batch handed to the
// starter) to the emulator reading the first AT+CMGS, for an enabled modem
// and for a disabled one (enabled first).
//   bench_sending --real-modem [messages each way]
//
// With --pool, a batch over a pool of 1, 2 and 4 emulated modems, each
// answering AT+CMGS after a delay, at an interval: the time to the last
// message, and the end the plan gave at the start against the real one.
//   bench_sending --pool [messages] [interval s] [modem delay ms] [pools...]

#include "commands/commandqueue.h"
#include "core/workprogress.h"
#include "phonelink/kdeconnectphones.h"
#include "sending/batchrunner.h"
#include "sending/batchstarter.h"
#include "sending/modemmanagerlink.h"
#include "sending/pendingwrites.h"
#include "sending/preparebatchcommand.h"
#include "sending/sendingservice.h"
#include "storage/database.h"
#include "storage/migrations.h"
#include "storage/statement.h"
#include "storage/template/databasetemplate.h"
#include "support/modemrig.h"

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

// Answers every message at once, on the next turn of the event loop.
class InstantChannel : public SendChannel
{
public:
    QString deviceId() const override { return QStringLiteral("instant"); }
    QString label() const override { return deviceId(); }
    void send(const QString &, const QString &, const Created &, const Done &done) override
    {
        QTimer::singleShot(0, this, [done] {
            SendResult result;
            result.state = RecordState::Sent;
            done(result);
        });
    }
    bool isPresent() const override { return true; }
    QString absence() const override { return QString(); }
};

// Starts each command at once and hands it back when done.
class DirectCommands : public CommandQueue
{
public:
    bool start(std::shared_ptr<Command> command, Done done) override
    {
        m_current = command;
        QObject::connect(
            command.get(), &Command::finished, command.get(),
            [this, done = std::move(done)] {
                const std::shared_ptr<Command> finished = std::exchange(m_current, nullptr);
                done(*finished);
            },
            Qt::SingleShotConnection);
        command->start();
        return true;
    }
    void cancel() override {}
    bool isBusy() const override { return m_current != nullptr; }

private:
    std::shared_ptr<Command> m_current;
};

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct PerMessage
{
    double wallMs = 0;
    double cpuMs = 0;
};

struct MemorySample
{
    int done;
    long residentKb;
    long sqliteKb;
};

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

bool openLog(Database &database, const QString &path)
{
    QString error;
    if (DatabaseTemplate::ensureDatabaseFile(path, &error) == DatabaseTemplate::EnsureResult::Failed
        || database.open(path, Database::Access::ReadWrite, &error) != Database::OpenResult::Ok
        || !Migrations::upgrade(database.handle(), &error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return false;
    }
    return true;
}

QList<BatchRecipient> makeRecipients(int count)
{
    QList<BatchRecipient> recipients;
    recipients.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString mobile = QString::number(13000000000LL + i);
        recipients.append(
            {mobile, QStringLiteral("客户%1").arg(i),
             QStringLiteral("客户%1您好，本店周末全场八折，欢迎光临。回T退订").arg(i)});
    }
    return recipients;
}

// The same rows through one prepared statement in one transaction.
double plainInsertMs(Database &database, const QList<BatchRecipient> &recipients)
{
    QElapsedTimer timer;
    timer.start();
    database.execute("BEGIN");
    database.execute("INSERT INTO [发送批次] ([时间], [发送方式], [短信内容]) VALUES ('', '', '')");
    const qint64 batch = sqlite3_last_insert_rowid(database.handle());
    Statement insert(database.handle(),
                     "INSERT INTO [发送记录] ([批次], [手机号], [姓名], [发送内容], "
                     "[状态]) VALUES (?1, ?2, ?3, ?4, '待发送')");
    for (const BatchRecipient &recipient : recipients) {
        insert.reset();
        insert.bind(1, batch);
        insert.bind(2, recipient.mobile);
        insert.bind(3, recipient.name);
        insert.bind(4, recipient.text);
        insert.step();
    }
    database.execute("COMMIT");
    return timer.nsecsElapsed() / 1e6;
}

struct WindowStall
{
    double startMs = 0;   // making and starting the command
    double longestMs = 0; // the longest the event loop did not turn, the start included
    double wholeMs = 0;   // from 开始发送 to the batch written
};

// The command writes the batch while the event loop turns, a timer noting
// each turn.
WindowStall prepareOnWorker(const QString &path, const QList<BatchRecipient> &recipients)
{
    constexpr int tickMs = 5;
    WindowStall stall;
    QElapsedTimer whole;
    QElapsedTimer sinceTurn;
    whole.start();
    sinceTurn.start();
    PrepareBatchCommand command(path, BatchSettings(), recipients, QDateTime::currentDateTime(),
                                QDateTime());
    QEventLoop loop;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, &loop, [&] {
        stall.longestMs = std::max(stall.longestMs, sinceTurn.nsecsElapsed() / 1e6);
        sinceTurn.restart();
    });
    QObject::connect(&command, &Command::finished, &loop, &QEventLoop::quit);
    command.start();
    stall.startMs = sinceTurn.nsecsElapsed() / 1e6;
    stall.longestMs = stall.startMs;
    sinceTurn.restart();
    ticks.start(tickMs);
    loop.exec();
    stall.wholeMs = whole.nsecsElapsed() / 1e6;
    if (!command.succeeded()) {
        std::fprintf(stderr, "%s\n", command.error().toUtf8().constData());
        return {};
    }
    return stall;
}

// Runs the batch until stopAfter messages are done; the time per message.
PerMessage runBatch(Database &database, qint64 batch, int stopAfter, QList<MemorySample> *memory)
{
    BatchLog log(database);
    SendLedger ledger(database);
    OptOutList optOuts(database);
    PendingWrites writes;
    const BatchServices services{log, ledger, optOuts, writes, {}, &QDateTime::currentDateTime};
    BatchSettings settings;
    settings.deviceIds = {QStringLiteral("instant")};
    BatchRunner runner(services, batch, settings, {new InstantChannel});
    QElapsedTimer timer;
    QObject::connect(&runner, &BatchRunner::progressChanged, &runner, [&] {
        const BatchRunner::Progress progress = runner.progress();
        const int done = progress.sent + progress.failed;
        if (memory && done % 1'000 == 0 && (memory->isEmpty() || memory->last().done != done))
            memory->append({done, residentKb(), long(sqlite3_memory_used() / 1024)});
        if (done >= stopAfter)
            runner.stop();
    });
    QObject::connect(&runner, &BatchRunner::phaseChanged, &runner, [&runner] {
        if (runner.phase() == BatchRunner::Phase::Finished
            || runner.phase() == BatchRunner::Phase::Stopped)
            QCoreApplication::exit(0);
    });
    timer.start();
    const double cpuStart = threadCpuMs();
    runner.start();
    QCoreApplication::exec();
    const BatchRunner::Progress progress = runner.progress();
    const int done = std::max(1, progress.sent + progress.failed);
    return {timer.nsecsElapsed() / 1e6 / done, (threadCpuMs() - cpuStart) / done};
}

} // namespace

// --- the real ModemManager -------------------------------------------------

double nowMs()
{
    return QDateTime::currentMSecsSinceEpoch() + 0.0;
}

// When the emulator read its first AT+CMGS at or after `since` (ms since the
// epoch), from its trace; -1 when it did not.
double firstCmgsMs(const QString &trace, double since)
{
    QFile file(trace);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const double at = line.left(line.indexOf(' ')).toDouble() * 1000;
        if (at >= since && line.contains("-> b'AT+CMGS"))
            return at;
    }
    return -1;
}

// The median time between two AT+CMGS the emulator read in [from, to] (ms
// since the epoch): the time per message without the stragglers a loaded
// machine adds.
double medianCmgsGapMs(const QString &trace, double from, double to)
{
    QFile file(trace);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    QList<double> times;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const double at = line.left(line.indexOf(' ')).toDouble() * 1000;
        if (at >= from && at <= to && line.contains("-> b'AT+CMGS"))
            times.append(at);
    }
    QList<double> gaps;
    for (qsizetype i = 1; i < times.size(); ++i)
        gaps.append(times.at(i) - times.at(i - 1));
    if (gaps.isEmpty())
        return -1;
    std::sort(gaps.begin(), gaps.end());
    return gaps.at(gaps.size() / 2);
}

// How one way of sending did.
struct Rate
{
    double perSecond = -1;
    double firstCmgsMs = -1;
    double medianGapMs = -1;
};

// One message through the link, waited for; false when it did not go out.
bool sendOne(ModemManagerLink &link, const QString &id, int n)
{
    bool done = false;
    bool sent = false;
    link.send(
        id, QString::number(13900000000LL + n), QStringLiteral("第%1条：本店周末八折。").arg(n),
        [](const QString &) {},
        [&](const SendResult &result) {
            done = true;
            sent = result.state == RecordState::Sent;
            if (!sent)
                std::fprintf(stderr, "%s\n", result.note.toUtf8().constData());
        });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return sent;
}

Rate rateOf(int messages, double start, const QString &trace)
{
    const double end = nowMs();
    return {messages * 1000.0 / (end - start), firstCmgsMs(trace, start) - start,
            medianCmgsGapMs(trace, start, end)};
}

// Through the link, one message after the other.
Rate linkRate(ModemManagerLink &link, const QString &id, int messages, const QString &trace)
{
    const double start = nowMs();
    for (int n = 0; n < messages; ++n) {
        if (!sendOne(link, id, n))
            return {};
    }
    return rateOf(messages, start, trace);
}

QString mmcli(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("mmcli"), arguments);
    process.waitForFinished();
    return QString::fromUtf8(process.readAll());
}

// Through mmcli: --messaging-create-sms, then --send.
Rate mmcliRate(const QString &modemPath, int messages, const QString &trace)
{
    static const QRegularExpression smsPath(
        QStringLiteral("(/org/freedesktop/ModemManager1/SMS/\\d+)"));
    const double start = nowMs();
    for (int n = 0; n < messages; ++n) {
        const QString created =
            mmcli({QStringLiteral("-m"), modemPath,
                   QStringLiteral("--messaging-create-sms=number=%1,text='第%2条：本店周末八折。'")
                       .arg(13900000000LL + n)
                       .arg(n)});
        const QString path = smsPath.match(created).captured(1);
        const QString sent = path.isEmpty()
            ? created
            : mmcli({QStringLiteral("-s"), path, QStringLiteral("--send")});
        if (!sent.contains(QLatin1String("successfully sent"))) {
            std::fprintf(stderr, "mmcli: %s\n", sent.toUtf8().constData());
            return {};
        }
    }
    return rateOf(messages, start, trace);
}

// The program's side: the service with its log on a fresh file, the link as
// an ordinary user, and the starter that writes a batch and runs it.
struct Program
{
    Program(ModemRig &rig, const QString &path)
        : link(rig.linkConnection())
    {
        QString error;
        if (DatabaseTemplate::ensureDatabaseFile(path, &error) == DatabaseTemplate::EnsureResult::Failed
            || database.open(path, Database::Access::ReadWrite, &error) != Database::OpenResult::Ok
            || !Migrations::upgrade(database.handle(), &error))
            qFatal("%s", qPrintable(error));
        service = std::make_unique<SendingService>(database, link, phones,
                                                   &QDateTime::currentDateTime);
        starter = std::make_unique<BatchStarter>(*service, commands);
    }

    // 开始发送 of a batch at this pace; its runner once it ended, with the
    // end the plan gave as it began.
    BatchRunner *send(BatchSettings settings, int messages, QDateTime *plannedEnd = nullptr)
    {
        settings.text = QStringLiteral("本店周末八折。");
        QList<BatchRecipient> recipients;
        for (int n = 0; n < messages; ++n) {
            const QString mobile = QString::number(13700000000LL + sent + n);
            recipients.append({mobile, QString(), QStringLiteral("第%1条：本店周末八折。").arg(n)});
        }
        sent += messages;
        BatchRunner *runner = nullptr;
        bool answered = false;
        starter->startNew(settings, recipients, QDateTime(),
                          [&](const BatchStarter::Outcome &outcome) {
                              answered = true;
                              runner = outcome.runner;
                              if (!outcome.error.isEmpty())
                                  std::fprintf(stderr, "%s\n", qPrintable(outcome.error));
                          });
        while (!answered)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!runner)
            return nullptr;
        if (plannedEnd) {
            while (runner->progress().remaining == 0 && runner->phase() != BatchRunner::Phase::Finished)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            *plannedEnd = runner->plan().end;
        }
        while (runner->phase() != BatchRunner::Phase::Finished
               && runner->phase() != BatchRunner::Phase::Paused)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (runner->phase() != BatchRunner::Phase::Finished
            || runner->progress().sent != messages) {
            std::fprintf(stderr, "the batch did not go out: %s\n", qPrintable(runner->statusText()));
            return nullptr;
        }
        return runner;
    }

    Database database;
    ModemManagerLink link;
    KdeConnectPhones phones{QDBusConnection(QStringLiteral("no session bus"))};
    std::unique_ptr<SendingService> service;
    DirectCommands commands;
    std::unique_ptr<BatchStarter> starter;
    qint64 sent = 0;
};

BatchSettings atPaceZero(const QStringList &modems)
{
    BatchSettings settings;
    settings.deviceIds = modems;
    return settings;
}

// Waits until the program's link lists every modem.
void waitForModems(const ModemManagerLink &link, const QStringList &ids)
{
    while (std::any_of(ids.cbegin(), ids.cend(), [&link](const QString &id) { return !link.modem(id); }))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

int realModem(int messages)
{
    const QString unavailable = ModemRig::unavailable();
    if (!unavailable.isEmpty()) {
        std::fprintf(stderr, "%s\n", unavailable.toUtf8().constData());
        return 1;
    }
    ModemRig rig;
    QString error;
    ModemRig::Modem made;
    const int modem = rig.start(&error) ? rig.addModem(made, &error) : -1;
    if (modem < 0) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    std::printf("ModemManager's probing, SetProfile to the modem exported: %lld ms\n",
                rig.lastProbeMs());
    const QString id = QStringLiteral("iccid:") + made.iccid;
    const QString trace = rig.traceFile(modem);
    QTemporaryDir folder;
    Program program(rig, folder.filePath(QStringLiteral("通讯录.dat")));
    ModemManagerLink asRoot(rig.connection());
    waitForModems(program.link, {id});
    waitForModems(asRoot, {id});

    // 开始发送 on a disabled modem: it is enabled, and what its SIM holds read, first.
    double start = nowMs();
    if (!program.send(atPaceZero({id}), 1))
        return 1;
    std::printf("开始发送 to the first AT+CMGS, disabled modem: %.1f ms (whole batch %.1f ms)\n",
                firstCmgsMs(trace, start) - start, nowMs() - start);

    // Each way starts with no message on the modem: ModemManager keeps every
    // message made until it is deleted, and mmcli reads them all for each send.
    const auto clear = [&asRoot, &id] {
        int removed = -1;
        asRoot.cleanUp(
            id, [](const QString &) { return true; }, [&removed](int count) { removed = count; });
        while (removed < 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    clear();
    start = nowMs();
    if (!program.send(atPaceZero({id}), messages))
        return 1;
    const Rate viaProgram = rateOf(messages, start, trace);
    clear();
    const Rate user = linkRate(program.link, id, messages, trace);
    clear();
    const Rate viaMmcli = mmcliRate(rig.path(modem), messages, trace);
    clear();
    const Rate root = linkRate(asRoot, id, messages, trace);
    std::printf("%d messages each, one after the other, enabled modem "
                "(messages/s; first AT+CMGS after; median time between two AT+CMGS):\n",
                messages);
    const auto print = [](const char *way, const Rate &rate) {
        std::printf("  %-52s %6.1f/s %7.1f ms %6.1f ms\n", way, rate.perSecond, rate.firstCmgsMs,
                    rate.medianGapMs);
    };
    print("the program: a batch through the service (ordinary user)", viaProgram);
    print("ModemManagerLink alone, ordinary user (polkit rule)", user);
    print("ModemManagerLink alone, root", root);
    print("mmcli create + send (root)", viaMmcli);
    std::printf("program / mmcli: %.2fx\n", viaProgram.perSecond / viaMmcli.perSecond);
    return 0;
}

// One batch over `pool` modems at the interval, each modem answering after
// the delay: the time to its last message, and the plan's end at its start.
int pool(int messages, int intervalSeconds, int delayMs, const QList<int> &pools)
{
    const QString unavailable = ModemRig::unavailable();
    if (!unavailable.isEmpty()) {
        std::fprintf(stderr, "%s\n", unavailable.toUtf8().constData());
        return 1;
    }
    std::printf("%d messages, %d s apart on each modem, each AT+CMGS answered after %d ms\n",
                messages, intervalSeconds, delayMs);
    std::printf("  modems   to the last message   plan at the start   plan / real\n");
    QList<double> seconds;
    for (int size : pools) {
        ModemRig rig;
        QString error;
        if (!rig.start(&error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        QStringList ids;
        for (int n = 1; n <= size; ++n) {
            ModemRig::Modem made;
            made.imei = QStringLiteral("8675309000000%1").arg(n, 2, 10, QLatin1Char('0'));
            made.iccid = QStringLiteral("898600000000000000%1").arg(n, 2, 10, QLatin1Char('0'));
            made.imsi = QStringLiteral("4600012345678%1").arg(n, 2, 10, QLatin1Char('0'));
            const int index = rig.addModem(made, &error);
            if (index < 0) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
                return 1;
            }
            rig.steer(index, {{QStringLiteral("cmd"), QStringLiteral("delay")},
                              {QStringLiteral("ms"), delayMs}});
            rig.enable(index, &error);
            ids.append(QStringLiteral("iccid:") + made.iccid);
        }
        QTemporaryDir folder;
        Program program(rig, folder.filePath(QStringLiteral("通讯录.dat")));
        waitForModems(program.link, ids);
        BatchSettings settings = atPaceZero(ids);
        settings.intervalSeconds = intervalSeconds;
        QDateTime planned;
        const QDateTime start = QDateTime::currentDateTime();
        if (!program.send(settings, messages, &planned))
            return 1;
        const double real = start.msecsTo(QDateTime::currentDateTime()) / 1000.0;
        const double plan = start.msecsTo(planned) / 1000.0;
        seconds.append(real);
        std::printf("  %6d   %16.1f s   %15.1f s   %10.3f\n", size, real, plan, plan / real);
        std::fflush(stdout);
    }
    if (seconds.size() > 1)
        std::printf("the smallest pool's time over the largest's: %.2fx\n",
                    seconds.at(pools.indexOf(*std::min_element(pools.cbegin(), pools.cend())))
                        / seconds.at(pools.indexOf(*std::max_element(pools.cbegin(), pools.cend()))));
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--real-modem")
        return realModem(argc > 2 ? std::atoi(argv[2]) : 100);
    if (argc > 1 && QByteArray(argv[1]) == "--pool") {
        QList<int> pools;
        for (int i = 5; i < argc; ++i)
            pools.append(std::atoi(argv[i]));
        return pool(argc > 2 ? std::atoi(argv[2]) : 2000, argc > 3 ? std::atoi(argv[3]) : 1,
                    argc > 4 ? std::atoi(argv[4]) : 500, pools.isEmpty() ? QList<int>{1, 2, 4} : pools);
    }
    const int count = argc > 1 ? std::atoi(argv[1]) : 100'000;
    const int sendCount = argc > 2 ? std::atoi(argv[2]) : 5'000;
    QTemporaryDir folder;
    const QList<BatchRecipient> recipients = makeRecipients(count);

    // 1. Preparing the batch, each on a fresh file.
    Database plainFile;
    Database logFile;
    Database workerFile;
    const QString workerPath = folder.filePath(QStringLiteral("worker.dat"));
    if (!openLog(plainFile, folder.filePath(QStringLiteral("plain.dat")))
        || !openLog(logFile, folder.filePath(QStringLiteral("log.dat")))
        || !openLog(workerFile, workerPath))
        return 1;
    const double plainMs = plainInsertMs(plainFile, recipients);
    qint64 batch = 0;
    QElapsedTimer timer;
    timer.start();
    BatchSettings settings;
    settings.deviceIds = {QStringLiteral("instant")};
    WorkProgress progress;
    if (BatchLog::prepare(logFile, settings, recipients, QDateTime::currentDateTime(), QDateTime(),
                          progress, &batch, nullptr)
        != LogResult::Ok)
        return 1;
    const double onWindowMs = timer.nsecsElapsed() / 1e6;
    const WindowStall worker = prepareOnWorker(workerPath, recipients);
    if (worker.wholeMs == 0)
        return 1;
    std::printf("prepare %d recipients, the window's thread held: written on it %.0f ms, "
                "by the command %.1f ms at the longest (%.0fx less; starting it %.2f ms)\n",
                count, onWindowMs, worker.longestMs, onWindowMs / worker.longestMs, worker.startMs);
    std::printf("prepare %d recipients, whole: command %.0f ms, plain transaction %.0f ms "
                "(%.2fx)\n",
                count, worker.wholeMs, plainMs, worker.wholeMs / plainMs);

    // 2. and 3. The batch with a channel that answers at once.
    QList<MemorySample> memory{{0, residentKb(), long(sqlite3_memory_used() / 1024)}};
    const PerMessage own = runBatch(logFile, batch, sendCount, &memory);
    std::printf("own time per message (%d messages): %.3f ms wall, %.3f ms CPU\n", sendCount,
                own.wallMs, own.cpuMs);
    std::printf(
        "memory (messages done: resident kB / of it SQLite's page cache and statements kB):");
    for (const MemorySample &sample : std::as_const(memory))
        std::printf(" %d: %ld / %ld", sample.done, sample.residentKb, sample.sqliteKb);
    std::printf("\n");
    return 0;
}
