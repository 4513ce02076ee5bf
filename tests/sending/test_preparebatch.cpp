#include "sending/preparebatchcommand.h"
#include "sendingfixture.h"
#include "storage/statement.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

// Writing a new batch on a worker thread through a connection of its own,
// while the window's connection goes on.
class TestPrepareBatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cancelRollsBackRowsAlreadyWritten();
    void waitsForTheWindowsShortWrite();

private:
    qint64 recordRows();

    std::unique_ptr<SendLogFile> m_file;
};

void TestPrepareBatch::init()
{
    m_file = std::make_unique<SendLogFile>();
    QString error;
    QVERIFY2(m_file->open(&error), qPrintable(error));
}

void TestPrepareBatch::cleanup()
{
    m_file.reset();
}

qint64 TestPrepareBatch::recordRows()
{
    Statement count(m_file->database().handle(), "SELECT count(*) FROM [发送记录]");
    return count.step() == SQLITE_ROW ? count.int64(0) : -1;
}

void TestPrepareBatch::cancelRollsBackRowsAlreadyWritten()
{
    QStringList mobiles;
    for (int i = 0; i < 100'000; ++i)
        mobiles.append(QString::number(13000000000LL + i));
    PrepareBatchCommand command(m_file->path(), BatchSettings(),
                                recipientsFor(mobiles, QStringLiteral("您好")),
                                QDateTime::currentDateTime(), QDateTime());
    command.start();
    // Cancelled once part of the rows is in the transaction.
    QElapsedTimer waited;
    waited.start();
    while (command.progress().done() < 1'000 && waited.elapsed() < 10'000)
        QThread::yieldCurrentThread();
    command.cancel();
    command.waitForFinished();
    QVERIFY(command.wasCancelled());
    QCOMPARE(command.error(), WorkProgress::cancelledMessage());
    QCOMPARE(command.batch(), 0);
    QList<BatchSummary> batches;
    QCOMPARE(m_file->log().batches(&batches, nullptr), LogResult::Ok);
    QVERIFY(batches.isEmpty());
    QCOMPARE(recordRows(), 0);
}

void TestPrepareBatch::waitsForTheWindowsShortWrite()
{
    QVERIFY(m_file->database().execute("BEGIN IMMEDIATE"));
    PrepareBatchCommand command(m_file->path(), BatchSettings(),
                                recipientsFor({QStringLiteral("13800000001"),
                                               QStringLiteral("13800000002")},
                                              QStringLiteral("您好")),
                                QDateTime::currentDateTime(), QDateTime());
    command.start();
    QTest::qWait(300);
    QVERIFY(!command.isFinished());
    QVERIFY(m_file->database().execute("COMMIT"));
    QTRY_VERIFY(command.isFinished());
    QVERIFY2(command.succeeded(), qPrintable(command.error()));
    QCOMPARE(m_file->states(command.batch()), QStringList(2, QStringLiteral("待发送")));
}

QTEST_GUILESS_MAIN(TestPrepareBatch)
#include "test_preparebatch.moc"
