// The exit backup's integrity check on a big database, next to a plain copy
// of the same file in the same run. Every measurement is a fresh process: the
// parent runs itself as a child in one mode and reads back the child's time.

#include "benchutil.h"
#include "core/atomicfile.h"
#include "safekeeping/appfolder.h"
#include "safekeeping/appsession.h"
#include "storage/database.h"
#include "storage/integritycheck.h"
#include "storage/statement.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

// Fills a new database in folder with count contacts in one group.
int populate(const QString &folder, int count)
{
    AppSession session(folder);
    QString message;
    if (!session.start(&message)) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    if (session.store().addGroupWithContacts(QStringLiteral("批量"), BenchUtil::makeContacts(count)) != StoreResult::Ok)
        return 1;
    session.database().close();
    return 0;
}

double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// The alternative to the quick check: read every page of the contact table
// (every column, so overflow pages too) and of both its indexes, letting the
// page authentication codes find damage, without the tree checks.
bool scanEveryPage(const QString &path)
{
    Database database;
    if (database.open(path, Database::Access::ReadOnly) != Database::OpenResult::Ok)
        return false;
    for (const char *sql :
         {"SELECT sum(length(手机号) + length(姓名) + length(称呼) + length(序号) + length(备注)"
          " + length(备用1) + length(备用2) + length(备用3) + length(组别)) FROM 通讯录",
          "SELECT count(*) FROM 通讯录 INDEXED BY 序号", "SELECT count(*) FROM 通讯录 INDEXED BY 组别"}) {
        Statement statement(database.handle(), sql);
        if (statement.step() != SQLITE_ROW)
            return false;
    }
    return true;
}

// One timed step in this process; prints wall and processor milliseconds.
int measure(const QString &mode, const QString &folder)
{
    const QString database = AppFolder::databasePath(folder);
    const QString target = QDir(folder).filePath(QStringLiteral("copy.dat"));
    QFile::remove(target);
    QElapsedTimer timer;
    const double cpuBefore = cpuMs();
    timer.start();
    bool ok = true;
    if (mode == QLatin1String("copy")) {
        ok = QFile::copy(database, target);
    } else if (mode == QLatin1String("atomic-copy")) {
        ok = AtomicFile::copy(database, target, nullptr, AtomicFile::ModeFrom::Source);
    } else if (mode == QLatin1String("page-scan")) {
        ok = scanEveryPage(database);
    } else if (mode == QLatin1String("check")) {
        ok = IntegrityCheck::check(database, nullptr);
    } else if (mode == QLatin1String("checked-copy")) {
        ok = AtomicFile::copy(database, target, nullptr, AtomicFile::ModeFrom::Source,
                              [](const QString &copy, QString *) {
                                  return IntegrityCheck::check(copy, nullptr);
                              });
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    const double cpu = cpuMs() - cpuBefore;
    if (!ok) {
        std::fprintf(stderr, "%s failed\n", qPrintable(mode));
        return 1;
    }
    std::printf("%.3f %.3f\n", ms, cpu);
    return 0;
}

struct Times
{
    double wall = -1;
    double cpu = -1;
};

Times runChild(const QString &mode, const QString &folder)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), mode, folder});
    child.waitForFinished(-1);
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (child.exitCode() != 0 || fields.size() != 2) {
        std::fprintf(stderr, "%s", child.readAllStandardError().constData());
        return {};
    }
    return {fields[0].toDouble(), fields[1].toDouble()};
}

double median(QVector<double> list)
{
    std::sort(list.begin(), list.end());
    return list[list.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() == 4 && arguments[1] == QLatin1String("--populate"))
        return populate(arguments[2], arguments[3].toInt());
    if (arguments.size() == 4 && arguments[1] == QLatin1String("--measure"))
        return measure(arguments[2], arguments[3]);

    const int count = arguments.size() > 1 ? arguments[1].toInt() : 1000000;
    const int runs = arguments.size() > 2 ? arguments[2].toInt() : 5;
    QTemporaryDir folder;
    QProcess filler;
    filler.start(application.applicationFilePath(),
                 {QStringLiteral("--populate"), folder.path(), QString::number(count)});
    filler.waitForFinished(-1);
    if (filler.exitCode() != 0)
        return 1;
    const qint64 size = QFileInfo(AppFolder::databasePath(folder.path())).size();
    std::printf("%d contacts, database %.1f MB; median of %d fresh processes each\n", count,
                size / 1048576.0, runs);

    const QStringList modes = {QStringLiteral("copy"), QStringLiteral("atomic-copy"),
                               QStringLiteral("check"), QStringLiteral("page-scan"),
                               QStringLiteral("checked-copy")};
    QMap<QString, QVector<double>> wall;
    QMap<QString, QVector<double>> cpu;
    // Interleaved, so that a noisy moment hits every mode alike.
    for (int run = 0; run < runs; ++run) {
        for (const QString &mode : modes) {
            const Times times = runChild(mode, folder.path());
            wall[mode].append(times.wall);
            cpu[mode].append(times.cpu);
        }
    }
    const double baseline = median(wall[modes.first()]);
    const double cpuBaseline = median(cpu[modes.first()]);
    std::printf("  %-14s %10s %8s %10s %8s\n", "", "wall ms", "ratio", "cpu ms", "ratio");
    for (const QString &mode : modes) {
        const double w = median(wall[mode]);
        const double c = median(cpu[mode]);
        std::printf("  %-14s %10.1f %7.2fx %10.1f %7.2fx\n", qPrintable(mode), w, w / baseline, c,
                    c / cpuBaseline);
    }
    return 0;
}
