#include "app/terminationwatch.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

class TestTerminationWatch : public QObject
{
    Q_OBJECT

private slots:
    void signalsArriveThroughTheEventLoop_data();
    void signalsArriveThroughTheEventLoop();
};

void TestTerminationWatch::signalsArriveThroughTheEventLoop_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestTerminationWatch::signalsArriveThroughTheEventLoop()
{
    QFETCH(int, signal);
    TerminationWatch watch;
    QVERIFY(watch.isActive());
    QSignalSpy requested(&watch, &TerminationWatch::terminationRequested);
    ::raise(signal); // would end the test process without the watch
    ::raise(signal);
    QVERIFY(requested.wait(2000));
    QTest::qWait(50);
    QCOMPARE(requested.count(), 1); // both arrived before the pipe was read
}

QTEST_GUILESS_MAIN(TestTerminationWatch)
#include "test_terminationwatch.moc"
