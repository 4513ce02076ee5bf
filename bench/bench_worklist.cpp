// The working list on large groups: loading a group, ticking one contact
// (with the full recipient-list rebuild and the text box update), scrolling
// one step, and the memory a million contacts take. The baseline is a bare
// scan of the same rows with the SQLite C API, measured in the same run.

#include "appsession.h"
#include "benchutil.h"
#include "contactgrid.h"
#include "contactlistmodel.h"
#include "contactstore.h"
#include "database.h"
#include "mainwindow.h"

#include <sqlcipher/sqlite3.h>

#include <QApplication>
#include <QDate>
#include <QProcess>
#include <QTemporaryDir>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const QString Group = QStringLiteral("大客户");

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

// Fills a new database in folder with count contacts in one group.
int populate(const QString &folder, int count)
{
    AppSession session(folder);
    QString message;
    if (!session.start(&message)) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    session.store().addGroupWithContacts(Group, BenchUtil::makeContacts(count));
    session.finish(QString(), QDate::currentDate());
    return 0;
}

// Measures in a process of its own, so that the peak memory is the window's.
int measure(const QString &folderPath, int count, QApplication &application)
{
    AppSession session(folderPath);
    QString message;
    if (!session.start(&message)) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
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
        session.store().contacts(Group, QString(), QString(), contacts);
    });
    const double load = BenchUtil::medianMs(runs, [&] {
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
    std::printf("  group click incl. recipient list  %9.1f ms\n", click);
    std::printf("  one tick incl. rebuild and Text2  %9.1f ms\n", tick);
    std::printf("  one tick, the grid's part         %9.2f ms\n", gridTick);
    std::printf("  one scroll step with repaint      %9.2f ms\n", scroll);
    std::printf("  peak memory, group shown twice    %9.0f MB\n", windowPeak);
    std::fflush(stdout);
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

    QList<int> counts;
    for (qsizetype i = 1; i < arguments.size(); ++i)
        counts << arguments[i].toInt();
    if (counts.isEmpty())
        counts = {100000, 1000000};
    for (int count : std::as_const(counts)) {
        QTemporaryDir folder;
        const QStringList where = {folder.path(), QString::number(count)};
        QProcess::execute(application.applicationFilePath(), QStringList{"--populate"} + where);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(application.applicationFilePath(), QStringList{"--measure"} + where);
        child.waitForFinished(-1);
    }
    return 0;
}
