// Long commands on a worker thread, as the user meets them; every measurement
// is a fresh process.
//   build-bench/bin/bench_commands [rows] [--before OLD]   # default 1000000
//     .xlsx export of rows contacts: the writer called on the window's thread
//     (how the window wrote before), alone in its process and beside an idle
//     second thread (as on a desktop, where malloc then takes its locks), the
//     export command through the window's runner (worker thread, progress
//     polled, dialog after half a second), and openpyxl write-only on the same
//     rows in the same run. OLD: this program built at an earlier commit (only
//     its "plain" mode is there), run on the same rows in the same run.
//     Then the time from 取消 to the window's commands being on again, at 10 %,
//     50 % and 90 % of an import, an export and a save as group of rows
//     contacts; and the window's answer to a key while an import of rows runs.
//   bench_commands plain ROWS FILE           # one export on the calling thread
//   bench_commands plain-threaded ROWS FILE  # the same beside an idle second thread
//   bench_commands command ROWS FILE         # one export through the runner
//   bench_commands cancel KIND FRACTION ROWS INPUT  # KIND: import, export, saveas
//   bench_commands responsive FILE           # import FILE, an event posted every 20 ms
//   bench_commands responsive-oneshot FILE   # the same, the recipient list built and
//                                            # put in on the window's thread at once (as before)
// Prints Markdown table rows.
#include "benchutil.h"
#include "exchange/xlsx/xlsxwriter.h"

#if __has_include("commands/exportcommand.h")
#define HAS_COMMANDS 1
#include "commands/exportcommand.h"
#include "commands/groupcommands.h"
#include "commands/importcommand.h"
#include "commands/workerconnection.h"
#include "desktop/filedialog.h"
#include "dialogs/commandrunner.h"
#include "model/contactlistmodel.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/recipientlistbox.h"
#include "storage/contactstore.h"
#include "storage/database.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#endif

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// The rows of BenchUtil::workbookContacts, written with openpyxl's write-only
// workbook; prints the milliseconds of the writing alone.
const char openpyxlScript[] = R"(
import sys, time, openpyxl
n = int(sys.argv[2])
rows = [(str(13900000000 + i), '客户%d' % i, '男' if i % 2 else '女', '房间%d号，回访备注' % (i % 997))
        for i in range(n)]
t = time.perf_counter()
wb = openpyxl.Workbook(write_only=True)
ws = wb.create_sheet()
for row in rows:
    ws.append(row)
wb.save(sys.argv[1])
print((time.perf_counter() - t) * 1000)
)";

// The process's processor time so far, all threads, user and system, in ms.
double processCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// withThread: a second, idle thread in the process, as in the program on a
// desktop (the display connection and D-Bus have threads of their own): from
// the second thread on, every malloc and free takes a lock.
int plainExport(int rows, const QString &file, bool withThread)
{
    std::atomic<bool> done{false};
    std::thread idle;
    if (withThread) {
        idle = std::thread([&done] {
            while (!done)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        });
    }
    const auto stop = qScopeGuard([&] {
        done = true;
        if (idle.joinable())
            idle.join();
    });
    const ContactList contacts = BenchUtil::workbookContacts(rows);
    QElapsedTimer timer;
    timer.start();
    const double cpu = processCpuMs();
    QString error;
    if (!writeXlsx(file, contacts, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("%.1f %.1f\n", timer.nsecsElapsed() / 1e6, processCpuMs() - cpu);
    return 0;
}

#ifdef HAS_COMMANDS

int commandExport(int rows, const QString &file)
{
    const ContactList contacts = BenchUtil::workbookContacts(rows);
    QWidget window;
    window.show();
    CommandRunner runner(&window);
    const auto command = std::make_shared<ExportCommand>(file, contacts, ExportCommand::Format::Xlsx);
    QElapsedTimer timer;
    timer.start();
    const double cpu = processCpuMs();
    if (!runner.run(command)) {
        std::fprintf(stderr, "%s\n", qPrintable(command->error()));
        return 1;
    }
    std::printf("%.1f %.1f\n", timer.nsecsElapsed() / 1e6, processCpuMs() - cpu);
    return 0;
}

// Cancels kind at fraction of its progress; prints the milliseconds from the
// cancel to the runner handing the window back, and to the worker's end.
int cancelAt(const QString &kind, double fraction, int rows, const QString &input)
{
    QWidget window;
    window.show();
    CommandRunner runner(&window);
    std::shared_ptr<Command> command;
    if (kind == QLatin1String("import")) {
        command = std::make_shared<ImportCommand>(input);
    } else if (kind == QLatin1String("export")) {
        command = std::make_shared<ExportCommand>(input, BenchUtil::workbookContacts(rows),
                                                  ExportCommand::Format::Xlsx);
    } else {
        Database database;
        if (database.create(input) != Database::OpenResult::Ok)
            return 1;
        database.close();
        command = std::make_shared<SaveAsGroupCommand>(std::make_shared<WorkerConnection>(input),
                                                       QStringLiteral("新组"),
                                                       BenchUtil::workbookContacts(rows));
    }
    QElapsedTimer sinceCancel;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const WorkProgress &progress = command->progress();
        if (!sinceCancel.isValid() && progress.total() > 0
            && progress.done() >= fraction * double(progress.total())) {
            sinceCancel.start();
            runner.cancel();
        }
    });
    watch.start(1);
    runner.run(command);
    const double usableMs = sinceCancel.isValid() ? sinceCancel.nsecsElapsed() / 1e6 : 0;
    command->waitForFinished();
    if (!sinceCancel.isValid() || !command->wasCancelled()) {
        std::fprintf(stderr, "finished before the cancel\n");
        return 1;
    }
    std::printf("%.1f/%.0f\n", usableMs, sinceCancel.nsecsElapsed() / 1e6);
    return 0;
}

// An event posted to the window from outside, as a key press or a repaint
// request arrives, stamped with the moment it was posted.
class StampedEvent : public QEvent
{
public:
    static constexpr QEvent::Type type = QEvent::User;
    explicit StampedEvent(qint64 postedAt) : QEvent(type), postedAt(postedAt) {}
    const qint64 postedAt;
};

// A widget that notes how long each stamped event waited for the window's thread.
class EventWatch : public QWidget
{
public:
    QElapsedTimer clock;
    QList<double> waits;
    std::atomic<bool> waiting{false};

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != StampedEvent::type)
            return QWidget::event(event);
        waits.append((clock.nsecsElapsed() - static_cast<StampedEvent *>(event)->postedAt) / 1e6);
        waiting = false;
        return true;
    }
};

// Imports file through the main window's 从Excel表导入 (the working list and
// the recipient list filled on the window's thread included), an event posted
// every 20 ms; prints the import's time, the events, the longest wait and the
// 99th percentile.
// oneShot: the recipient list built and put into its box on the window's
// thread in one go after the import, as the window did it before (the baseline).
int responsive(const QString &file, bool oneShot)
{
    QTemporaryDir dir;
    Database database;
    if (database.create(dir.filePath(QStringLiteral("contacts.dat"))) != Database::OpenResult::Ok)
        return 1;
    ContactStore store(database);
    MainWindow main(store, dir.path());
    main.show();
    EventWatch window;
    window.show();
    FileDialog::setNextFileName(file);
    window.clock.start();
    // Posted from a thread of its own, so that a window's thread that does
    // not answer does not stop the posting either.
    std::atomic<bool> importing{true};
    std::thread poster([&window, &importing] {
        while (importing) {
            if (!window.waiting.exchange(true)) // the last one has arrived
                QCoreApplication::postEvent(&window, new StampedEvent(window.clock.nsecsElapsed()));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    QElapsedTimer timer;
    timer.start();
    main.importWorkbook();
    auto *recipients = main.findChild<RecipientListBox *>(QStringLiteral("Text2"));
    if (oneShot && recipients) {
        recipients->clear();
        main.rebuildRecipientList();
        recipients->finishFilling();
    }
    // The recipient list goes into its box in slices, between other events.
    while (recipients && recipients->isFilling())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    const double importMs = timer.nsecsElapsed() / 1e6;
    importing = false;
    poster.join();
    QCoreApplication::processEvents(); // the event posted last
    if (main.contactList().contacts().isEmpty())
        return 1;
    std::sort(window.waits.begin(), window.waits.end());
    if (window.waits.size() < 2)
        return 1;
    std::printf("%.1f %lld %.1f %.1f %.1f\n", importMs, qint64(window.waits.size()), window.waits.last(),
                window.waits[window.waits.size() - 2], window.waits[window.waits.size() * 99 / 100]);
    return 0;
}

#endif

// Runs a fresh process; its standard output, "" when it failed.
QByteArray runProcess(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(900000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return QByteArray();
    return process.readAllStandardOutput().trimmed();
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

#ifdef HAS_COMMANDS

int parent(int rows, const QString &before)
{
    const QString self = QCoreApplication::applicationFilePath();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("export.xlsx"));
    const QString count = QString::number(rows);

    // Interleaved, so that a change of load touches every variant alike.
    // Wall and processor time of each run.
    QList<double> plain, threaded, command, old, plainCpu, threadedCpu, commandCpu, oldCpu;
    const auto measure = [&](const QString &program, const char *mode, QList<double> &wall,
                             QList<double> &cpu) {
        const QList<QByteArray> times = runProcess(program, {QString::fromLatin1(mode), count, file}).split(' ');
        wall.append(times.value(0).toDouble());
        cpu.append(times.value(1).toDouble());
    };
    for (int run = 0; run < 5; ++run) {
        measure(self, "plain", plain, plainCpu);
        measure(self, "plain-threaded", threaded, threadedCpu);
        measure(self, "command", command, commandCpu);
        if (!before.isEmpty())
            measure(before, "plain", old, oldCpu);
    }
    const double openpyxl = runProcess(QStringLiteral("/usr/bin/python3"),
                                       {QStringLiteral("-c"), QString::fromUtf8(openpyxlScript),
                                        dir.filePath(QStringLiteral("openpyxl.xlsx")), count})
                                .toDouble();
    const auto change = [](double value, double base) { return (value / base - 1) * 100; };
    std::printf("| .xlsx export of %d contacts, median of 5 | wall ms | processor ms |\n"
                "|---|---|---|\n", rows);
    std::printf("| writer on the calling thread, the only thread | %.0f | %.0f |\n", median(plain),
                median(plainCpu));
    std::printf("| writer on the calling thread, a second thread idle | %.0f | %.0f |\n",
                median(threaded), median(threadedCpu));
    std::printf("| export command through the runner (against the line above) | %.0f (%+.1f %%) | %.0f (%+.1f %%) |\n",
                median(command), change(median(command), median(threaded)), median(commandCpu),
                change(median(commandCpu), median(threadedCpu)));
    if (!old.isEmpty())
        std::printf("| writer before this change (OLD) | %.0f (command %+.1f %%) | %.0f (command %+.1f %%) |\n",
                    median(old), change(median(command), median(old)), median(oldCpu),
                    change(median(commandCpu), median(oldCpu)));
    std::printf("| openpyxl write-only (once) | %.0f (%.1fx the command) | |\n", openpyxl,
                openpyxl / median(command));

    // The inputs of the cancels: the workbook just written, a database file.
    std::printf("\n| 取消 at | import | export | save as group |\n|---|---|---|---|\n");
    for (const char *fraction : {"0.1", "0.5", "0.9"}) {
        QStringList cells;
        for (const char *kind : {"import", "export", "saveas"}) {
            const QString input = QByteArray(kind) == "import"
                                      ? file
                                      : dir.filePath(QStringLiteral("%1-%2.out").arg(kind, fraction));
            const QByteArray ms = runProcess(self, {QStringLiteral("cancel"), QString::fromLatin1(kind),
                                                    QString::fromLatin1(fraction), count, input});
            cells << (ms.isEmpty() ? QStringLiteral("—") : QString::fromLatin1(ms));
        }
        std::printf("| %.0f %% | %s |\n", std::atof(fraction) * 100, qPrintable(cells.join(" | ")));
    }

    const QList<QByteArray> answer =
        runProcess(self, {QStringLiteral("responsive"), file}).split(' ');
    if (answer.size() == 5)
        std::printf("\n| 从Excel表导入 of %d rows in the main window | ms |\n|---|---|\n"
                    "| the import | %s |\n| events posted (one each 20 ms) | %s |\n"
                    "| longest wait of an event | %s |\n| second longest | %s |\n"
                    "| 99th percentile | %s |\n",
                    rows, answer[0].constData(), answer[1].constData(), answer[2].constData(),
                    answer[3].constData(), answer[4].constData());
    return 0;
}

#endif

} // namespace

int main(int argc, char **argv)
{
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if ((mode == QLatin1String("plain") || mode == QLatin1String("plain-threaded")) && argc == 4) {
        QCoreApplication app(argc, argv);
        return plainExport(std::atoi(argv[2]), QString::fromLocal8Bit(argv[3]),
                           mode == QLatin1String("plain-threaded"));
    }
#ifdef HAS_COMMANDS
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (mode == QLatin1String("command") && argc == 4)
        return commandExport(std::atoi(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (mode == QLatin1String("cancel") && argc == 6)
        return cancelAt(QString::fromLatin1(argv[2]), std::atof(argv[3]), std::atoi(argv[4]),
                        QString::fromLocal8Bit(argv[5]));
    if ((mode == QLatin1String("responsive") || mode == QLatin1String("responsive-oneshot")) && argc == 3)
        return responsive(QString::fromLocal8Bit(argv[2]), mode == QLatin1String("responsive-oneshot"));
    int rows = 1000000;
    QString before;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--before" && i + 1 < argc)
            before = QString::fromLocal8Bit(argv[++i]);
        else
            rows = std::atoi(argv[i]);
    }
    return parent(rows, before);
#else
    std::fprintf(stderr, "this build has only: plain ROWS FILE\n");
    return 2;
#endif
}
