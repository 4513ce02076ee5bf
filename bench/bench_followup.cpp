// The follow-up records at scale: 1,000,000 records, one number holding
// 100,000 of them and 99,999 numbers 9 each, over 100,000 contacts in 10
// groups. Each figure is the median of fresh processes (the database opened
// cold in each), next to its baseline measured in the same run:
//   due list   FollowUpStore::dueList into the window's model, against the
//              same rows read by a bare SQLCipher query (sqlite3_step and
//              sqlite3_column_text on every column);
//   history    FollowUpStore::history of the 100,000-record number into the
//              window's model, against the same rows read bare;
//   start-up   the program to a painted main window (bench_startup's child)
//              on that database, against a database fresh from the template.

#include "safekeeping/appsession.h"
#include "benchutil.h"
#include "followup/followupstore.h"
#include "followup/recordexport.h"
#include "followup/ui/duelistmodel.h"
#include "followup/ui/historymodel.h"
#include "storage/database.h"
#include "storage/statement.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

const QDate Today(2026, 12, 7);
constexpr int Numbers = 100000;
constexpr int RecordsEach = 9;
constexpr int HeavyRecords = 100000;
const QString HeavyNumber = QStringLiteral("13900000000");

QString numberOf(int i)
{
    return QString::number(13900000000LL + i);
}

// The queries the store runs, read without Qt.
const char *const BareDueSql =
    "SELECT l.[手机号], l.[下次回访], r.[时间], r.[结果], c.rowid, c.[姓名], c.[称呼], "
    "c.[备注], c.[组别], (SELECT group_concat([组别], '、') FROM (SELECT [组别] FROM [通讯录] "
    "WHERE [手机号] = l.[手机号] ORDER BY rowid)) "
    "FROM [回访最新] l JOIN [回访记录] r ON r.[编号] = l.[编号] "
    "LEFT JOIN [通讯录] c ON c.rowid = "
    "(SELECT rowid FROM [通讯录] WHERE [手机号] = l.[手机号] ORDER BY rowid LIMIT 1) "
    "WHERE l.[下次回访] <= ?1 ORDER BY l.[下次回访], r.[时间], l.[手机号]";
const char *const BareExportSql =
    "SELECT r.[编号], r.[手机号], r.[时间], r.[方式], r.[结果], r.[内容], r.[下次回访], "
    "(SELECT [姓名] FROM [通讯录] WHERE [手机号] = r.[手机号] ORDER BY rowid LIMIT 1), "
    "(SELECT group_concat([组别], '、') FROM (SELECT [组别] FROM [通讯录] "
    "WHERE [手机号] = r.[手机号] ORDER BY rowid)) "
    "FROM [回访记录] r INDEXED BY [回访记录手机号] WHERE ?1 = ?1 "
    "ORDER BY r.[手机号], r.[时间], r.[编号]";
const char *const BareHistorySql =
    "SELECT 0, [编号], [时间], [方式], [结果], [内容], [下次回访] "
    "FROM [回访记录] WHERE [手机号] = ?1 "
    "UNION ALL "
    "SELECT 1, s.[编号], ifnull(s.[时间], b.[时间]), '短信', s.[状态], s.[发送内容], NULL "
    "FROM [发送记录] s LEFT JOIN [发送批次] b ON b.[编号] = s.[批次] "
    "WHERE s.[手机号] = ?1 ORDER BY 3 DESC, 1, 2 DESC";

bool fill(Database &database)
{
    QString error;
    Transaction transaction(database, &error);
    for (int g = 0; g < 10; ++g) {
        Statement group(database.handle(), "INSERT INTO [分组] ([分组]) VALUES (?)");
        group.bind(1, QStringLiteral("分组%1").arg(g));
        if (group.step() != SQLITE_DONE)
            return false;
    }
    Statement contact(database.handle(),
                      "INSERT INTO [通讯录] ([手机号], [姓名], [称呼], [序号], [备注], [组别]) "
                      "VALUES (?1, ?2, '先生', ?3 || ?1, '', ?3)");
    for (int i = 0; i < Numbers; ++i) {
        contact.reset();
        contact.bind(1, numberOf(i));
        contact.bind(2, QStringLiteral("客户%1").arg(i));
        contact.bind(3, QStringLiteral("分组%1").arg(i % 10));
        if (contact.step() != SQLITE_DONE)
            return false;
    }
    Statement record(database.handle(),
                     "INSERT INTO [回访记录] ([手机号], [时间], [方式], [结果], [内容], [下次回访]) "
                     "VALUES (?1, ?2, '电话', ?3, ?4, NULLIF(?5, ''))");
    const QStringList results{"已接通", "未接通", "关机", "拒接", "空号"};
    const QDateTime start(QDate(2024, 1, 1), QTime(8, 0));
    const auto add = [&](const QString &mobile, const QDateTime &time, int salt, bool newest) {
        record.reset();
        record.bind(1, mobile);
        record.bind(2, time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        record.bind(3, results.at(salt % results.size()));
        record.bind(4, QStringLiteral("第%1次回访，客户说下周再联系。").arg(salt));
        // The newest record of a number is due or not in about equal shares.
        record.bind(5, newest ? Today.addDays(salt % 61 - 30).toString(Qt::ISODate) : QString());
        return record.step() == SQLITE_DONE;
    };
    // Calls in the order they happen: a round over every number, then the next.
    for (int k = 0; k < RecordsEach; ++k) {
        for (int i = 1; i < Numbers; ++i) {
            if (!add(numberOf(i), start.addDays(k * 60).addSecs(i), i + k, k == RecordsEach - 1))
                return false;
        }
    }
    for (int k = 0; k < HeavyRecords; ++k) {
        if (!add(HeavyNumber, start.addSecs(k * 300), k, k == HeavyRecords - 1))
            return false;
    }
    return transaction.commit(&error);
}

double bareRows(sqlite3 *db, const char *sql, const QByteArray &parameter, qint64 *rows)
{
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    sqlite3_bind_text(statement, 1, parameter.constData(), int(parameter.size()), SQLITE_STATIC);
    qint64 count = 0;
    qint64 bytes = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        ++count;
        for (int column = 0; column < sqlite3_column_count(statement); ++column) {
            sqlite3_column_text(statement, column);
            bytes += sqlite3_column_bytes(statement, column);
        }
    }
    sqlite3_finalize(statement);
    *rows = count;
    return double(bytes);
}

// One measurement in this (fresh) process: the milliseconds after the open.
int runChild(const QString &mode, const QString &folder)
{
    Database database;
    QString error;
    if (database.open(folder + QStringLiteral("/通讯录.dat"), Database::Access::ReadWrite, &error)
        != Database::OpenResult::Ok) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    FollowUpStore store(database);
    qint64 rows = 0;
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = BenchUtil::threadCpuMs();
    if (mode == QLatin1String("due")) {
        QVector<DueEntry> entries;
        store.dueList(Today, &entries, &error);
        DueListModel model;
        model.replaceAll(std::move(entries));
        rows = model.rowCount();
    } else if (mode == QLatin1String("history")) {
        QVector<HistoryEntry> entries;
        store.history(HeavyNumber, &entries, &error);
        HistoryModel model;
        model.replaceAll(std::move(entries));
        rows = model.rowCount();
    } else if (mode.startsWith(QLatin1String("export-"))) {
        const bool csv = mode == QLatin1String("export-csv");
        if (!RecordExport::write(
                store, folder + (csv ? QStringLiteral("/x.csv") : QStringLiteral("/x.xlsx")),
                csv ? RecordExport::Format::Csv : RecordExport::Format::Xlsx, {}, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        qsizetype count = 0;
        store.recordCount(&count, &error);
        rows = count;
    } else if (mode == QLatin1String("export")) {
        bareRows(database.handle(), BareExportSql, "x", &rows);
    } else if (mode == QLatin1String("due-bare")) {
        bareRows(database.handle(), BareDueSql, Today.toString(Qt::ISODate).toUtf8(), &rows);
    } else {
        bareRows(database.handle(), BareHistorySql, HeavyNumber.toUtf8(), &rows);
    }
    std::printf("%.3f %lld %.3f\n", timer.nsecsElapsed() / 1e6, rows,
                BenchUtil::threadCpuMs() - cpuStart);
    return 0;
}

struct Sample
{
    double ms = 0; // wall time
    qint64 rows = 0;
    double cpuMs = 0; // CPU time of the measuring thread
};

Sample runOnce(const QString &program, const QStringList &arguments)
{
    QProcess child;
    child.start(program, arguments);
    child.waitForFinished(600000);
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    return {fields.value(0).toDouble(), fields.value(1).toLongLong(), fields.value(2).toDouble()};
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 4 && QByteArray(argv[1]) == "--child")
        return runChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

    QCoreApplication application(argc, argv);
    const QString self = QCoreApplication::applicationFilePath();
    const int runs = argc > 1 ? QByteArray(argv[1]).toInt() : 7;

    QTemporaryDir big;
    QTemporaryDir empty;
    QElapsedTimer filling;
    filling.start();
    {
        AppSession session(big.path());
        QString message;
        if (!session.start(&message) || !session.upgradeProblem().isEmpty()
            || !fill(session.database())) {
            std::fprintf(stderr, "cannot build the database: %s\n", qPrintable(message));
            return 1;
        }
        session.database().close();
    }
    {
        AppSession session(empty.path());
        QString message;
        if (!session.start(&message))
            return 1;
    }
    std::printf("database built in %.1f s\n", filling.nsecsElapsed() / 1e9);

    const QString startup = QStringLiteral(LANZHOU_BENCH_STARTUP);
    QVector<double> due, dueBare, history, historyBare, startBig, startEmpty;
    QVector<double> dueCpu, dueBareCpu, historyCpu, historyBareCpu;
    qint64 dueRows = 0, historyRows = 0, dueBareRows = 0, historyBareRows = 0;
    for (int i = 0; i < runs; ++i) {
        const auto child = [&](const char *mode, QVector<double> &times, QVector<double> &cpu,
                               qint64 &rows) {
            const Sample sample = runOnce(self, {QStringLiteral("--child"), QLatin1String(mode), big.path()});
            times << sample.ms;
            cpu << sample.cpuMs;
            rows = sample.rows;
        };
        child("due", due, dueCpu, dueRows);
        child("due-bare", dueBare, dueBareCpu, dueBareRows);
        child("history", history, historyCpu, historyRows);
        child("history-bare", historyBare, historyBareCpu, historyBareRows);
        startBig << runOnce(startup, {QStringLiteral("--child"), QStringLiteral("program"), big.path()}).ms;
        startEmpty << runOnce(startup, {QStringLiteral("--child"), QStringLiteral("program"), empty.path()}).ms;
    }
    // The export once each: it takes seconds, not milliseconds.
    const auto once = [&](const char *mode) {
        return runOnce(self, {QStringLiteral("--child"), QLatin1String(mode), big.path()});
    };
    const Sample exportBare = once("export");
    const Sample exportCsv = once("export-csv");
    const Sample exportXlsx = once("export-xlsx");
    if (dueRows != dueBareRows || historyRows != historyBareRows) {
        std::fprintf(stderr, "row counts differ: due %lld/%lld, history %lld/%lld\n", dueRows,
                     dueBareRows, historyRows, historyBareRows);
        return 1;
    }
    std::printf("median of %d fresh processes; wall time, then CPU time of the measuring thread\n", runs);
    const auto line = [](const char *what, qint64 rows, const QVector<double> &program,
                         const QVector<double> &bare, const QVector<double> &programCpu,
                         const QVector<double> &bareCpu) {
        std::printf("  %-8s (%lld rows) store+model %7.1f ms  bare %7.1f ms  (%.2fx)   "
                    "CPU %7.1f / %7.1f ms  (%.2fx)\n",
                    what, rows, median(program), median(bare), median(program) / median(bare),
                    median(programCpu), median(bareCpu), median(programCpu) / median(bareCpu));
    };
    line("due list", dueRows, due, dueBare, dueCpu, dueBareCpu);
    line("history", historyRows, history, historyBare, historyCpu, historyBareCpu);
    std::printf("  start-up to first paint   1,000,000 records %8.1f ms   empty database %8.1f ms  (%.2fx)\n",
                median(startBig), median(startEmpty), median(startBig) / median(startEmpty));
    std::printf("export of every record, one run each (%lld rows)\n", exportBare.rows);
    std::printf("  bare query %8.1f ms   CSV %8.1f ms (%.2fx)   .xlsx %8.1f ms (%.2fx)\n", exportBare.ms,
                exportCsv.ms, exportCsv.ms / exportBare.ms, exportXlsx.ms, exportXlsx.ms / exportBare.ms);
    return 0;
}
