#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "mainwindow/mainwindow.h"
#include "safekeeping/appsession.h"
#include "safekeeping/shutdownsequence.h"
#include "safekeeping/smsrecoveryfile.h"
#include "support/testsupport.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>

namespace {

// Longer than the room a full disk leaves, shorter than the recovery file may be.
const QString LongText = QStringLiteral("明天开会") + QString(3000, QChar(0x77ed));

} // namespace

// Closing the main window when the SMS text cannot be stored: a real full
// disk (the file size limit) or a read-only folder.
class TestShutdownSequence : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void failedSaveKeepsTheWindowOpen_data();
    void failedSaveKeepsTheWindowOpen();
    void quitAnywayKeepsTheTextAside();
    void nowhereToKeepTheTextAsksTheUser_data();
    void nowhereToKeepTheTextAsksTheUser();
    void stopWhileAskingKeepsTheTextAside();
    void storedTextSupersedesTheOneKeptAside();

private:
    void openWindow();
    QString restartedSmsText();
    qint64 databaseSize() const { return QFileInfo(m_session->databasePath()).size(); }
    QString recoveryPath() const { return SmsRecoveryFile(m_session->databasePath()).path(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppSession> m_session;
    std::unique_ptr<ShutdownSequence> m_shutdown;
    std::unique_ptr<MainWindow> m_window;
};

void TestShutdownSequence::init()
{
    MessageBox::resetRecord();
    m_dir = std::make_unique<QTemporaryDir>();
    openWindow();
}

void TestShutdownSequence::cleanup()
{
    m_window.reset();
    m_shutdown.reset();
    m_session.reset();
    m_dir.reset();
}

void TestShutdownSequence::openWindow()
{
    m_window.reset();
    m_session = std::make_unique<AppSession>(m_dir->path());
    QString message;
    QVERIFY2(m_session->start(&message), qPrintable(message));
    m_shutdown = std::make_unique<ShutdownSequence>(*m_session, [] { return QDate(2024, 3, 6); });
    m_window = std::make_unique<MainWindow>(m_session->store(), m_dir->path());
    m_window->setSmsText(m_session->initialSmsText());
    m_window->setShutdownHandler(
        [this](const QString &sms) { return m_shutdown->run(m_window.get(), sms); });
    m_window->show();
}

QString TestShutdownSequence::restartedSmsText()
{
    m_window.reset();
    m_session.reset(); // lets go of the database and its lock
    openWindow();
    return m_window->smsText();
}

void TestShutdownSequence::failedSaveKeepsTheWindowOpen_data()
{
    QTest::addColumn<bool>("diskFull"); // else a read-only folder
    QTest::newRow("disk full") << true;
    QTest::newRow("read-only folder") << false;
}

void TestShutdownSequence::failedSaveKeepsTheWindowOpen()
{
    QFETCH(bool, diskFull);
    m_window->setSmsText(LongText);
    {
        std::optional<TestSupport::FileSizeLimit> full;
        std::optional<TestSupport::ReadOnlyFolder> readOnly;
        if (diskFull)
            full.emplace(databaseSize() + 4096);
        else
            readOnly.emplace(m_dir->path());
        QVERIFY(diskFull ? full->ok() : readOnly->ok());

        MessageBox::setNextAnswer(QMessageBox::Retry);
        MessageBox::setNextAnswer(QMessageBox::Cancel); // the question closed
        QVERIFY(!m_window->close());
        QVERIFY(m_window->isVisible());
        QCOMPARE(MessageBox::shownCount(), 2);
        QVERIFY2(MessageBox::lastText().startsWith(QStringLiteral("短信内容未能保存：")),
                 qPrintable(MessageBox::lastText()));
        QVERIFY(!QFileInfo::exists(recoveryPath()));
        QCOMPARE(m_window->smsText(), LongText);
    }
    // Room again: the next close stores the text and goes.
    QVERIFY(m_window->close());
    QVERIFY(!m_window->isVisible());
    QCOMPARE(MessageBox::shownCount(), 2);
    QCOMPARE(m_shutdown->exitStatus(), 0);
    QCOMPARE(restartedSmsText(), LongText);
}

void TestShutdownSequence::quitAnywayKeepsTheTextAside()
{
    m_window->setSmsText(LongText);
    {
        TestSupport::FileSizeLimit full(databaseSize() + 4096);
        QVERIFY(full.ok());
        MessageBox::setNextAnswer(QMessageBox::Ignore); // 仍然退出
        MessageBox::setNextAnswer(QMessageBox::Ok);     // the report
        QVERIFY(m_window->close());
    }
    QVERIFY(!m_window->isVisible());
    QCOMPARE(MessageBox::shownCount(), 2);
    QVERIFY2(MessageBox::lastText().contains(QDir::toNativeSeparators(recoveryPath())),
             qPrintable(MessageBox::lastText()));
    QCOMPARE(m_shutdown->exitStatus(), 1);
    QCOMPARE(TestSupport::readAll(recoveryPath()), LongText.toUtf8());

    QCOMPARE(restartedSmsText(), LongText);
    QVERIFY(!QFileInfo::exists(recoveryPath()));
    QCOMPARE(restartedSmsText(), LongText); // stored in the database again
}

void TestShutdownSequence::nowhereToKeepTheTextAsksTheUser_data()
{
    QTest::addColumn<int>("answer"); // to 另存为… / 复制 / 仍然退出
    QTest::addColumn<bool>("closed");
    QTest::newRow("saved to a chosen file") << int(QMessageBox::Save) << true;
    QTest::newRow("copied") << int(QMessageBox::SaveAll) << false;
    QTest::newRow("question closed") << int(QMessageBox::Cancel) << false;
    QTest::newRow("lost by choice") << int(QMessageBox::Ignore) << true;
}

// A read-only folder: neither the database (its journal) nor the recovery
// file can be written.
void TestShutdownSequence::nowhereToKeepTheTextAsksTheUser()
{
    QFETCH(int, answer);
    QFETCH(bool, closed);
    QTemporaryDir elsewhere;
    const QString chosen = elsewhere.filePath(QStringLiteral("短信.txt"));
    QGuiApplication::clipboard()->clear();
    m_window->setSmsText(LongText);
    {
        TestSupport::ReadOnlyFolder readOnly(m_dir->path());
        QVERIFY(readOnly.ok());
        MessageBox::setNextAnswer(QMessageBox::Ignore); // 仍然退出
        MessageBox::setNextAnswer(QMessageBox::StandardButton(answer));
        MessageBox::setNextAnswer(QMessageBox::Ok); // the report
        FileDialog::setNextFileName(chosen);
        QCOMPARE(m_window->close(), closed);
    }
    QCOMPARE(m_window->isVisible(), !closed);
    QVERIFY(!QFileInfo::exists(recoveryPath()));
    if (answer == QMessageBox::Save)
        QCOMPARE(TestSupport::readAll(chosen), LongText.toUtf8());
    else
        QVERIFY(!QFileInfo::exists(chosen));
    if (answer == QMessageBox::SaveAll)
        QCOMPARE(QGuiApplication::clipboard()->text(), LongText);
    if (closed)
        QCOMPARE(m_shutdown->exitStatus(), 1);
    else
        QCOMPARE(m_window->smsText(), LongText);
}

void TestShutdownSequence::stopWhileAskingKeepsTheTextAside()
{
    // A real question on screen, then the program is told to stop: nobody
    // will answer it.
    m_window->setSmsText(LongText);
    TestSupport::FileSizeLimit full(databaseSize() + 4096);
    QVERIFY(full.ok());
    QTimer::singleShot(300, this, [this] { m_shutdown->requestTermination(); });
    QVERIFY(m_window->close());

    QVERIFY(!m_window->isVisible());
    QCOMPARE(MessageBox::shownCount(), 1); // the report went to the terminal
    QCOMPARE(m_shutdown->exitStatus(), 1);
    QCOMPARE(TestSupport::readAll(recoveryPath()), LongText.toUtf8());
}

void TestShutdownSequence::storedTextSupersedesTheOneKeptAside()
{
    // The kept text cannot go back into the database at start (read-only
    // folder), so its file stays; later the folder can be written again.
    m_window.reset();
    m_session.reset();
    SmsRecoveryFile recovery(QDir(m_dir->path()).filePath(QStringLiteral("通讯录.dat")));
    QString error;
    QVERIFY2(recovery.write(QStringLiteral("旧的"), &error), qPrintable(error));
    {
        TestSupport::ReadOnlyFolder readOnly(m_dir->path());
        QVERIFY(readOnly.ok());
        openWindow();
    }
    QCOMPARE(m_window->smsText(), QStringLiteral("旧的"));
    QVERIFY(QFileInfo::exists(recovery.path()));

    m_window->setSmsText(QStringLiteral("新的"));
    QVERIFY(m_window->close());
    QCOMPARE(m_shutdown->exitStatus(), 0);
    QCOMPARE(restartedSmsText(), QStringLiteral("新的"));
    QVERIFY(!QFileInfo::exists(recovery.path()));
}

QTEST_MAIN(TestShutdownSequence)
#include "test_shutdownsequence.moc"
