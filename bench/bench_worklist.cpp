// The working list on large groups: loading a group, ticking one contact
// (with the full recipient-list rebuild and the text box update), scrolling
// one step, and the memory a million contacts take. The baseline is a bare
// scan of the same rows with the SQLite C API, measured in the same run.

#include "benchutil.h"
#include "commands/groupcommands.h"
#include "dialogs/commandrunner.h"
#include "mainwindow/contactgrid.h"
#include "mainwindow/mainwindow.h"
#include "model/contactlistmodel.h"
#include "safekeeping/appsession.h"
#include "storage/contactstore.h"
#include "storage/database.h"

#include <sqlcipher/sqlite3.h>

#include <QApplication>
#include <QDate>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

const QString Group = QStringLiteral("大客户");
// Clicked before the measured load, so that the commands' connection is open.
const QString SmallGroup = QStringLiteral("小客户");

// Reads the group's rows with the C API alone, each as four texts made by
// convert: the baseline of a load.
template<typename Text>
size_t bareScan(sqlite3 *db, Text (*convert)(const char *utf8, int size))
{
    std::vector<std::array<Text, 4>> rows;
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT 手机号, 姓名, 称呼, 备注 FROM 通讯录 WHERE 组别 = ? ORDER BY rowid",
                       -1, &statement, nullptr);
    const QByteArray group = Group.toUtf8();
    sqlite3_bind_text(statement, 1, group.constData(), int(group.size()), SQLITE_TRANSIENT);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        std::array<Text, 4> row;
        for (int column = 0; column < 4; ++column) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
            row[column] = convert(text ? text : "", sqlite3_column_bytes(statement, column));
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    return rows.size();
}

// Byte strings: short ones need no allocation.
std::string toStdString(const char *utf8, int size)
{
    return std::string(utf8, size_t(size));
}

// Qt strings, the form every Qt view needs.
QString toQString(const char *utf8, int size)
{
    return QString::fromUtf8(utf8, size);
}

// Opens the database the benchmark made; says why when it cannot.
bool startSession(AppSession &session)
{
    QString message;
    if (session.start(&message))
        return true;
    std::fprintf(stderr, "%s\n", qPrintable(message));
    return false;
}

// Fills a new database in folder with count contacts in one group.
int populate(const QString &folder, int count)
{
    AppSession session(folder);
    if (!startSession(session))
        return 1;
    session.store().addGroupWithContacts(Group, BenchUtil::makeContacts(count));
    session.store().addGroupWithContacts(SmallGroup, BenchUtil::makeContacts(10));
    session.finish(QString(), QDate::currentDate());
    return 0;
}

// Measures in a process of its own, so that the peak memory is the window's.
int measure(const QString &folderPath, int count, QApplication &application)
{
    AppSession session(folderPath);
    if (!startSession(session))
        return 1;
    MainWindow window(session.store(), folderPath);
    window.show();
    application.processEvents();
    window.chooseGroup(Group); // warms the cache of the database pages
    window.chooseGroup(Group);
    application.processEvents();
    // Before the baselines below, which hold a second copy of the rows.
    const double windowPeak = BenchUtil::peakMemoryMb();

    const int runs = count > 200000 ? 3 : 7;
    const double scan = BenchUtil::medianMs(runs, [&] { bareScan(session.database().handle(), toStdString); });
    const double scanQt =
        BenchUtil::medianMs(runs, [&] { bareScan(session.database().handle(), toQString); });
    const double query = BenchUtil::medianMs(runs, [&] {
        ContactList contacts;
        session.store().contacts(Group, QString(), QString(), &contacts);
    });
    const double load = BenchUtil::medianMs(runs, [&] {
        window.reloadContacts();
        window.grid().rowArea()->repaint();
    });
    // CPU time, which the other processes of a busy machine disturb less.
    const double scanCpu =
        BenchUtil::medianCpuMs(runs, [&] { bareScan(session.database().handle(), toStdString); });
    const double loadCpu = BenchUtil::medianCpuMs(runs, [&] {
        window.reloadContacts();
        window.grid().rowArea()->repaint();
    });
    const double click = BenchUtil::medianMs(runs, [&] { window.chooseGroup(Group); });
    const double tick = BenchUtil::medianMs(runs * 3, [&] {
        window.contactList().toggleTicked(count / 2);
        application.processEvents();
    });
    int position = 0;
    const double scroll = BenchUtil::medianMs(50, [&] {
        window.grid().setScrollValue(++position);
        window.grid().rowArea()->repaint();
    });

    // The grid's own share of a tick: the same list in a grid of its own,
    // with no recipient list behind it.
    ContactListModel alone;
    alone.replaceAll(window.contactList().contacts());
    ContactGrid grid(alone);
    grid.resize(window.grid().size());
    grid.show();
    grid.setScrollValue(count / 2);
    application.processEvents();
    const double gridTick = BenchUtil::medianMs(runs * 10, [&] {
        alone.toggleTicked(grid.contactAtRow(5));
        application.processEvents();
    });

    std::printf("%d contacts in one group\n", count);
    std::printf("  bare SQLite scan into memory      %9.1f ms\n", scan);
    std::printf("  bare scan into Qt strings         %9.1f ms\n", scanQt);
    std::printf("  query into a contact list         %9.1f ms  (%.2fx the scan)\n", query, query / scan);
    std::printf("  load (query, model, shown rows)   %9.1f ms  (%.2fx the scan, %.2fx the Qt-string scan)\n",
                load, load / scan, load / scanQt);
    std::printf("  CPU time: scan %.1f ms, load %.1f ms (%.2fx)\n", scanCpu, loadCpu,
                loadCpu / scanCpu);
    std::printf("  group click incl. recipient list  %9.1f ms\n", click);
    std::printf("  one tick incl. rebuild and Text2  %9.1f ms\n", tick);
    std::printf("  one tick, the grid's part         %9.2f ms\n", gridTick);
    std::printf("  one scroll step with repaint      %9.2f ms\n", scroll);
    std::printf("  peak memory, group shown twice    %9.0f MB\n", windowPeak);
    std::fflush(stdout);
    return 0;
}

// Resident memory now, from /proc (the peak from getrusage never falls).
double residentMb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * 4096 / (1024.0 * 1024.0) : 0;
}

// Ten cycles of what a user repeats on a big group: a search that narrows
// the list, clearing the filter and searching again, a click on the group,
// and a list as an import leaves it (the workbook itself is not read: the
// import hands its contacts to the window the same way). Prints the peak
// memory after each cycle; flat means nothing accumulates.
int measureMemory(const QString &folderPath, QApplication &application)
{
    AppSession session(folderPath);
    if (!startSession(session))
        return 1;
    MainWindow window(session.store(), folderPath);
    window.show();
    application.processEvents();
    auto *nameFilter = window.findChild<QLineEdit *>(QStringLiteral("Text3"));
    auto *searchButton = window.findChild<QPushButton *>(QStringLiteral("Command15"));
    window.chooseGroup(Group);
    application.processEvents();
    std::printf("cycle  peak MiB  resident MiB\n");
    std::printf("%5d  %8.1f  %12.1f  (group chosen)\n", 0, BenchUtil::peakMemoryMb(), residentMb());
    constexpr int Cycles = 10;
    double first = 0;
    double highest = 0;
    for (int cycle = 1; cycle <= Cycles; ++cycle) {
        nameFilter->setText(QStringLiteral("客户12345"));
        searchButton->click();
        application.processEvents();
        nameFilter->clear();
        searchButton->click();
        application.processEvents();
        window.chooseGroup(Group);
        application.processEvents();
        ContactList imported = BenchUtil::makeContacts(int(window.contactList().size()));
        for (Contact &contact : imported)
            contact.setName(contact.name().toString() + QStringLiteral("导入"));
        window.contactList().replaceAll(std::move(imported));
        window.rebuildRecipientList();
        application.processEvents();
        const double peak = BenchUtil::peakMemoryMb();
        if (cycle == 1)
            first = peak;
        highest = peak;
        std::printf("%5d  %8.1f  %12.1f\n", cycle, peak, residentMb());
        std::fflush(stdout);
    }
    std::printf("peak after %d cycles / after the first: %.3f\n", Cycles, highest / first);
    return 0;
}

// One step timed in a fresh process: "scan" (the bare scan, the baseline);
// "load" (the group's load into the window as a click runs it: the command
// on its worker thread through the commands' connection, the model, the shown
// rows), after a click on a small group has opened that connection; "first"
// (the same load as the first of the process, opening the connection: what
// every load cost while each command opened a connection of its own);
// "click" (a group click, the recipient list included, after the small
// group's). The group's pages are cold in every step. Prints the wall time and
// the CPU time of all threads in milliseconds.
int measureColdStep(const QString &folderPath, const QString &step, QApplication &application)
{
    AppSession session(folderPath);
    if (!startSession(session))
        return 1;
    std::unique_ptr<MainWindow> window;
    if (step != QLatin1String("scan")) {
        window = std::make_unique<MainWindow>(session.store(), folderPath);
        window->show();
        if (step != QLatin1String("first"))
            window->chooseGroup(SmallGroup);
        application.processEvents();
    }
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = BenchUtil::processCpuMs();
    if (step == QLatin1String("scan")) {
        bareScan(session.database().handle(), toStdString);
    } else if (step == QLatin1String("click")) {
        window->chooseGroup(Group);
        application.processEvents();
    } else {
        // MainWindow::reloadContacts for the group no click has chosen yet.
        CommandRunner &runner = window->commandRunner();
        const auto load = std::make_shared<GroupLoadCommand>(
            runner.connection(), Group, QString(), QString(), window->contactList().takeStorage());
        if (!runner.run(load))
            return 1;
        window->contactList().replaceAll(load->takeContacts());
        window->grid().rowArea()->repaint();
    }
    const double cpu = BenchUtil::processCpuMs() - cpuStart;
    std::printf("%.2f %.2f\n", timer.nsecsElapsed() / 1e6, cpu);
    return 0;
}

// Runs measureColdStep in turns, each in a fresh process, and prints medians.
void compareCold(const QString &program, const QString &folder, int count, int runs)
{
    const QStringList steps = {"scan", "load", "first", "click"};
    QMap<QString, QVector<double>> wall, cpu;
    for (int run = 0; run < runs; ++run) {
        for (const QString &step : steps) {
            QProcess child;
            child.start(program, {"--cold-step", folder, step});
            child.waitForFinished(-1);
            const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
            if (figures.size() == 2) {
                wall[step] << figures[0].toDouble();
                cpu[step] << figures[1].toDouble();
            }
        }
    }
    const auto median = [](QVector<double> values) {
        if (values.isEmpty())
            return 0.0;
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::printf("%d contacts, cold processes, medians of %d (wall ms / CPU ms, ratio to the scan)\n",
                count, runs);
    for (const QString &step : steps) {
        const double w = median(wall[step]);
        const double c = median(cpu[step]);
        std::printf("  %-6s %9.1f / %9.1f   %.2fx / %.2fx\n", qPrintable(step), w, c,
                    w / median(wall["scan"]), c / median(cpu["scan"]));
    }
    std::fflush(stdout);
}

// Ticks and unticks contacts spread over the list: the median of many single
// ticks with the text box's update (also a loop for the profiler).
int measureTicks(const QString &folderPath, QApplication &application)
{
    AppSession session(folderPath);
    if (!startSession(session))
        return 1;
    MainWindow window(session.store(), folderPath);
    window.show();
    window.chooseGroup(Group);
    application.processEvents();
    ContactListModel &contacts = window.contactList();
    qsizetype next = 0;
    const double tick = BenchUtil::medianMs(2001, [&] {
        next = (next + 7919 * 131) % contacts.size();
        contacts.toggleTicked(next);
        application.processEvents();
    });
    // The same without the paint that follows: the tick's own work.
    const double withoutPaint = BenchUtil::medianMs(2001, [&] {
        next = (next + 7919 * 131) % contacts.size();
        contacts.toggleTicked(next);
    });
    application.processEvents();
    // What every tick cost before: building the whole list and comparing it
    // with the box's text.
    const double rebuild = BenchUtil::medianMs(11, [&] {
        next = (next + 7919 * 131) % contacts.size();
        contacts.toggleTicked(next);
        window.rebuildRecipientList();
        application.processEvents();
    });
    std::printf("%lld contacts, medians: one tick incl. Text2 and painting %.2f ms, without painting"
                " %.2f ms; a tick with a full rebuild %.1f ms\n",
                static_cast<long long>(contacts.size()), tick, withoutPaint, rebuild);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() == 4 && arguments[1] == QLatin1String("--populate"))
        return populate(arguments[2], arguments[3].toInt());
    if (arguments.size() == 4 && arguments[1] == QLatin1String("--measure"))
        return measure(arguments[2], arguments[3].toInt(), application);
    if (arguments.size() == 3 && arguments[1] == QLatin1String("--measure-ticks"))
        return measureTicks(arguments[2], application);
    if (arguments.size() == 3 && arguments[1] == QLatin1String("--measure-memory"))
        return measureMemory(arguments[2], application);

    if (arguments.size() == 4 && arguments[1] == QLatin1String("--cold-step"))
        return measureColdStep(arguments[2], arguments[3], application);
    const bool cold = arguments.size() > 1 && arguments[1] == QLatin1String("--cold");

    QList<int> counts;
    for (qsizetype i = cold ? 2 : 1; i < arguments.size(); ++i)
        counts << arguments[i].toInt();
    if (counts.isEmpty())
        counts = {100000, 1000000};
    for (int count : std::as_const(counts)) {
        QTemporaryDir folder;
        const QStringList where = {folder.path(), QString::number(count)};
        QProcess::execute(application.applicationFilePath(), QStringList{"--populate"} + where);
        if (cold) {
            compareCold(application.applicationFilePath(), folder.path(), count, count > 200000 ? 5 : 9);
            continue;
        }
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(application.applicationFilePath(), QStringList{"--measure"} + where);
        child.waitForFinished(-1);
    }
    return 0;
}
