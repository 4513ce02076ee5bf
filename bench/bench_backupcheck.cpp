// The exit backup's integrity check on a big database, next to a plain copy
// of the same file in the same run. Every measurement is a fresh process: the
// parent runs itself as a child in one mode and reads back the child's time.

#include "appfolder.h"
#include "appsession.h"
#include "atomicfile.h"
#include "integritycheck.h"

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
    ContactList contacts;
    contacts.reserve(count);
    for (int i = 0; i < count; ++i) {
        Contact contact;
        contact.mobile = QString::number(13000000000LL + i);
        contact.name = QStringLiteral("客户%1").arg(i);
        contact.salutation = i % 2 ? QStringLiteral("先生") : QStringLiteral("女士");
        contact.remark = QStringLiteral("备注%1").arg(i % 1000);
        contacts.append(contact);
    }
    if (session.store().addGroupWithContacts(QStringLiteral("批量"), contacts) != StoreResult::Ok)
        return 1;
    session.database().close();
    return 0;
}

// One timed step in this process; prints milliseconds.
int measure(const QString &mode, const QString &folder)
{
    const QString database = AppFolder::databasePath(folder);
    const QString target = QDir(folder).filePath(QStringLiteral("copy.dat"));
    QFile::remove(target);
    QElapsedTimer timer;
    timer.start();
    bool ok = true;
    if (mode == QLatin1String("copy")) {
        ok = QFile::copy(database, target);
    } else if (mode == QLatin1String("atomic-copy")) {
        ok = AtomicFile::copy(database, target, nullptr, AtomicFile::ModeFrom::Source);
    } else if (mode == QLatin1String("check")) {
        ok = IntegrityCheck::check(database).passed;
    } else if (mode == QLatin1String("checked-copy")) {
        ok = AtomicFile::copy(database, target, nullptr, AtomicFile::ModeFrom::Source,
                              [](const QString &copy, QString *) {
                                  return IntegrityCheck::check(copy).passed;
                              });
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    if (!ok) {
        std::fprintf(stderr, "%s failed\n", qPrintable(mode));
        return 1;
    }
    std::printf("%.3f\n", ms);
    return 0;
}

double runChild(const QString &mode, const QString &folder)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), mode, folder});
    child.waitForFinished(-1);
    bool ok = false;
    const double ms = child.readAllStandardOutput().trimmed().toDouble(&ok);
    if (child.exitCode() != 0 || !ok) {
        std::fprintf(stderr, "%s", child.readAllStandardError().constData());
        return -1;
    }
    return ms;
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
                               QStringLiteral("check"), QStringLiteral("checked-copy")};
    QMap<QString, QVector<double>> times;
    // Interleaved, so that a noisy moment hits every mode alike.
    for (int run = 0; run < runs; ++run)
        for (const QString &mode : modes)
            times[mode].append(runChild(mode, folder.path()));
    double baseline = 0;
    for (const QString &mode : modes) {
        QVector<double> &list = times[mode];
        std::sort(list.begin(), list.end());
        const double median = list[list.size() / 2];
        if (mode == modes.first())
            baseline = median;
        std::printf("  %-14s %9.1f ms  (%.2fx the plain copy)\n", qPrintable(mode), median,
                    median / baseline);
    }
    return 0;
}
