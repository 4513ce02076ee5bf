// Holds the lock of the database named on the command line as a running copy
// of the program does, until it is killed. With "listen" it also answers
// later starts, printing "shown" for each request to show its window; with
// "close MS" it lets go after MS milliseconds, as a copy writing its exit
// backup does (without answering).

#include "safekeeping/instancelock.h"
#include "safekeeping/runningcopy.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc < 2)
        return 2;
    const QString databasePath = QString::fromLocal8Bit(argv[1]);
    InstanceLock lock(databasePath);
    if (lock.acquire() != InstanceLock::Outcome::Acquired)
        return 3;
    RunningCopy runningCopy(databasePath);
    QObject::connect(&runningCopy, &RunningCopy::showRequested, [] {
        std::puts("shown");
        std::fflush(stdout);
    });
    if (argc > 2 && std::strcmp(argv[2], "listen") == 0 && !runningCopy.listen())
        return 4;
    if (argc > 3 && std::strcmp(argv[2], "close") == 0)
        QTimer::singleShot(std::atoi(argv[3]), &application, &QCoreApplication::quit);
    std::puts("ready");
    std::fflush(stdout);
    return application.exec();
}
