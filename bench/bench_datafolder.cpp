// The whole life of the real program (start, window shown, closed at once by
// LANZHOU_SMS_CLOSE_AFTER_START, SMS saved, backup written), portable next to
// installed, in the same run. Each measurement is a fresh process; the two
// kinds take turns so that the machine's load falls on both alike.
//   portable:  a copy of the program in a folder its user can write; the data
//              goes beside it.
//   installed: a copy in a folder its user cannot write (as an installed
//              program in /usr/bin); the data goes to ~/.local/share.
// Run as root, both run as "nobody" (setpriv); else the installed copy's
// folder is made read-only.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <pwd.h>
#include <unistd.h>

namespace {

struct Setup
{
    QString program;
    QString home;
};

bool asNobody()
{
    return ::geteuid() == 0;
}

void giveToNobody(const QString &path)
{
    if (!asNobody())
        return;
    const passwd *nobody = ::getpwnam("nobody");
    if (nobody && ::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
        std::perror("chown");
}

Setup prepare(const QString &root, bool writableFolder)
{
    const QString bin = root + QStringLiteral("/bin");
    Setup setup{bin + QStringLiteral("/lanzhou-sms"), root + QStringLiteral("/home")};
    QDir().mkpath(bin);
    QDir().mkpath(setup.home);
    QFile::copy(QStringLiteral(LANZHOU_PROGRAM), setup.program);
    giveToNobody(setup.home);
    if (writableFolder)
        giveToNobody(bin);
    else if (!asNobody())
        QFile::setPermissions(bin, QFile::ReadOwner | QFile::ExeOwner);
    QFile::setPermissions(root, QFile::permissions(root) | QFile::ReadOther | QFile::ExeOther);
    return setup;
}

// Milliseconds from starting the process to its end; -1 when it failed.
double runOnce(const Setup &setup)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), setup.home);
    environment.remove(QStringLiteral("XDG_DATA_HOME"));
    environment.insert(QStringLiteral("LANZHOU_SMS_CLOSE_AFTER_START"), QStringLiteral("1"));
    if (!environment.contains(QStringLiteral("DISPLAY")))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    if (asNobody())
        process.start(QStringLiteral("setpriv"),
                      {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                       QStringLiteral("--clear-groups"), setup.program});
    else
        process.start(setup.program, {});
    process.waitForFinished(60000);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s", process.readAllStandardError().constData());
        return -1;
    }
    return ms;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? QByteArray(argv[1]).toInt() : 15;
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ReadOther | QFile::ExeOther);
    const Setup portable = prepare(dir.filePath(QStringLiteral("portable")), true);
    const Setup installed = prepare(dir.filePath(QStringLiteral("installed")), false);
    const QString portableData = QFileInfo(portable.program).path();
    const QString installedData = installed.home + QStringLiteral("/.local/share/lanzhou-sms");

    QVector<double> portableFirst, installedFirst, portableAgain, installedAgain;
    for (int i = 0; i < runs; ++i) {
        // First start: no data folder content yet.
        QDir(installedData).removeRecursively();
        QFile::remove(portableData + QStringLiteral("/通讯录.dat"));
        QDir(portableData + QStringLiteral("/数据备份")).removeRecursively();
        portableFirst << runOnce(portable);
        installedFirst << runOnce(installed);
        portableAgain << runOnce(portable);
        installedAgain << runOnce(installed);
    }
    if (!QFileInfo::exists(installedData + QStringLiteral("/通讯录.dat"))
        || !QFileInfo::exists(portableData + QStringLiteral("/通讯录.dat"))) {
        std::fprintf(stderr, "the data did not land where expected\n");
        return 1;
    }
    const double base = median(portableAgain);
    std::printf("start to exit of the program, median of %d fresh processes%s\n", runs,
                asNobody() ? " (as nobody)" : "");
    std::printf("  portable, existing database   %8.1f ms  (1x)\n", base);
    std::printf("  installed, existing database  %8.1f ms  (%.2fx)\n", median(installedAgain),
                median(installedAgain) / base);
    std::printf("  portable, first start         %8.1f ms  (%.2fx)\n", median(portableFirst),
                median(portableFirst) / base);
    std::printf("  installed, first start        %8.1f ms  (%.2fx)\n", median(installedFirst),
                median(installedFirst) / base);
    return 0;
}
