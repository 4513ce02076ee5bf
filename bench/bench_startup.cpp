// Start-up to a shown, painted main window, next to an empty Qt Widgets window
// started the same way. Every measurement is a fresh process: the parent runs
// itself as a child in one of three modes and reads back the child's time
// from the start of main() to the first paint of the window.

#include "mainwindow/mainwindow.h"
#include "safekeeping/appsession.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>

namespace {

QElapsedTimer g_sinceMain;

// Reports the time of the first paint of the watched window and quits.
class FirstPaintWatcher : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_reported) {
            m_reported = true;
            QTimer::singleShot(0, [] {
                std::printf("%.3f\n", g_sinceMain.nsecsElapsed() / 1e6);
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    bool m_reported = false;
};

int runChild(const QString &mode, const QString &folder, int argc, char **argv)
{
    FirstPaintWatcher watcher;
    if (mode == QLatin1String("empty")) {
        QApplication application(argc, argv);
        QWidget window;
        window.resize(928, 563);
        window.installEventFilter(&watcher);
        window.show();
        return application.exec();
    }
    // The same order as the program: the database first, then the
    // application object and the window.
    AppSession session(folder);
    QString message;
    const bool started = session.start(&message);
    const double afterStart = g_sinceMain.nsecsElapsed() / 1e6;
    QApplication application(argc, argv);
    if (!started) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    const double afterApplication = g_sinceMain.nsecsElapsed() / 1e6;
    MainWindow window(session.store(), folder);
    window.setSmsText(session.initialSmsText());
    if (qEnvironmentVariableIsSet("BENCH_DETAIL"))
        std::fprintf(stderr, "session %.1f  application %.1f  window %.1f\n", afterStart,
                     afterApplication - afterStart, g_sinceMain.nsecsElapsed() / 1e6 - afterApplication);
    window.installEventFilter(&watcher);
    window.show();
    return application.exec();
}

double runOnce(const QString &self, const QString &mode, const QString &folder)
{
    QProcess child;
    child.start(self, {QStringLiteral("--child"), mode, folder});
    child.waitForFinished(60000);
    return child.readAllStandardOutput().trimmed().toDouble();
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    g_sinceMain.start();
    if (argc >= 4 && QByteArray(argv[1]) == "--child")
        return runChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), argc, argv);

    QCoreApplication application(argc, argv);
    const QString self = QCoreApplication::applicationFilePath();
    const int runs = argc > 1 ? QByteArray(argv[1]).toInt() : 15;
    QTemporaryDir existing;
    runOnce(self, QStringLiteral("program"), existing.path()); // creates the database

    QVector<double> empty, onExisting, firstStart;
    for (int i = 0; i < runs; ++i) {
        empty << runOnce(self, QStringLiteral("empty"), existing.path());
        onExisting << runOnce(self, QStringLiteral("program"), existing.path());
        QTemporaryDir fresh;
        firstStart << runOnce(self, QStringLiteral("program"), fresh.path());
    }
    const double baseline = median(empty);
    std::printf("start-up to first paint, median of %d fresh processes\n", runs);
    std::printf("  empty Qt Widgets window      %8.1f ms\n", baseline);
    std::printf("  existing database            %8.1f ms  (%.2fx)\n", median(onExisting),
                median(onExisting) / baseline);
    std::printf("  first start, from template   %8.1f ms  (%.2fx)\n", median(firstStart),
                median(firstStart) / baseline);
    return 0;
}
