#include "commands/command.h"
#include "desktop/messagebox.h"
#include "dialogs/commandrunner.h"
#include "dialogs/progressdialog.h"
#include "gui/mainwindowfixture.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

namespace {

// Work that lasts a given time, or until it is cancelled.
class TimedCommand : public Command
{
public:
    static constexpr int untilCancelled = -1;
    // windsDownMs: how long it takes to stop once cancelled.
    explicit TimedCommand(int lastsMs, int windsDownMs = 0)
        : m_lastsMs(lastsMs)
        , m_windsDownMs(windsDownMs)
    {
    }

    QString title() const override { return QStringLiteral("导出"); }
    QString text() const override { return QStringLiteral("正在导出…"); }

protected:
    bool run(WorkProgress &progress, QString *error) override
    {
        progress.setTotal(1000);
        QElapsedTimer timer;
        timer.start();
        while (m_lastsMs == untilCancelled || timer.elapsed() < m_lastsMs) {
            if (!progress.advance(timer.elapsed() % 1000)) {
                QThread::msleep(m_windsDownMs);
                *error = WorkProgress::cancelledMessage();
                return false;
            }
            QThread::msleep(2);
        }
        return true;
    }

private:
    const int m_lastsMs;
    const int m_windsDownMs;
};

// What the window looked like while a command ran, sampled every few milliseconds.
struct Sample
{
    qint64 elapsedMs = 0;
    ProgressDialog *dialog = nullptr; // the visible one, valid during the sample only
    QString dialogTitle;
    bool dialogHasBar = false;
    int enabledCommands = 0;          // buttons, menu bar and group list switched on
};

} // namespace

class TestCommandRunner : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void dialogOnlyForLongWorkAndCommandsOffMeanwhile_data();
    void dialogOnlyForLongWorkAndCommandsOffMeanwhile();
    void closingDuringWorkAsksThenCancelsThenExits_data();
    void closingDuringWorkAsksThenCancelsThenExits();
    void startHandsTheOutcomeToDoneOnceLater_data();
    void startHandsTheOutcomeToDoneOnceLater();
    void startIsRefusedWhileACommandRuns();

private:
    int enabledCommands();
    ProgressDialog *visibleDialog();
    // Runs command through the window's runner; onSample sees the window
    // every few milliseconds meanwhile.
    bool run(const std::shared_ptr<Command> &command,
             const std::function<void(const Sample &)> &onSample);

    std::unique_ptr<MainWindowFixture> m_fixture;
    QList<Sample> m_samples;
};

void TestCommandRunner::init()
{
    MessageBox::resetRecord();
    m_fixture = std::make_unique<MainWindowFixture>();
    QVERIFY(m_fixture->start());
    m_samples.clear();
}

void TestCommandRunner::cleanup()
{
    m_fixture.reset();
}

int TestCommandRunner::enabledCommands()
{
    MainWindow &window = m_fixture->window();
    int enabled = window.menuBar()->isEnabled() ? 1 : 0;
    enabled += m_fixture->child<QListWidget>(QStringLiteral("List1"))->isEnabled() ? 1 : 0;
    const QList<QPushButton *> buttons = window.centralWidget()->findChildren<QPushButton *>();
    for (QPushButton *button : buttons)
        enabled += button->isEnabled() ? 1 : 0;
    return enabled;
}

ProgressDialog *TestCommandRunner::visibleDialog()
{
    const QList<ProgressDialog *> dialogs = m_fixture->window().findChildren<ProgressDialog *>();
    for (ProgressDialog *dialog : dialogs) {
        if (dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

bool TestCommandRunner::run(const std::shared_ptr<Command> &command,
                            const std::function<void(const Sample &)> &onSample)
{
    QElapsedTimer clock;
    QTimer watch;
    watch.setInterval(5);
    connect(&watch, &QTimer::timeout, this, [&] {
        Sample sample;
        sample.elapsedMs = clock.elapsed();
        sample.dialog = visibleDialog();
        if (sample.dialog) {
            sample.dialogTitle = sample.dialog->windowTitle();
            sample.dialogHasBar = sample.dialog->findChild<QProgressBar *>() != nullptr;
        }
        sample.enabledCommands = enabledCommands();
        m_samples.append(sample);
        if (onSample)
            onSample(sample);
    });
    clock.start();
    watch.start();
    return m_fixture->window().commandRunner().run(command);
}

void TestCommandRunner::dialogOnlyForLongWorkAndCommandsOffMeanwhile_data()
{
    QTest::addColumn<int>("lastsMs");
    QTest::addColumn<bool>("dialogShown");
    QTest::newRow("a moment") << CommandRunner::dialogDelayMs / 5 << false;
    QTest::newRow("until 取消") << int(TimedCommand::untilCancelled) << true;
}

void TestCommandRunner::dialogOnlyForLongWorkAndCommandsOffMeanwhile()
{
    QFETCH(int, lastsMs);
    QFETCH(bool, dialogShown);
    const int enabledBefore = enabledCommands();
    QVERIFY(enabledBefore > 2);

    const auto command = std::make_shared<TimedCommand>(lastsMs);
    const bool succeeded = run(command, [](const Sample &sample) {
        // The only way to end work that waits for its cancel.
        if (sample.dialog)
            QTest::mouseClick(sample.dialog->findChild<QPushButton *>(QStringLiteral("取消")),
                              Qt::LeftButton);
    });

    QCOMPARE(succeeded, !dialogShown);
    QCOMPARE(command->wasCancelled(), dialogShown);
    QVERIFY(!m_samples.isEmpty());
    bool sawDialog = false;
    for (const Sample &sample : std::as_const(m_samples)) {
        QCOMPARE(sample.enabledCommands, 0);
        if (sample.dialog) {
            QVERIFY2(sample.elapsedMs >= CommandRunner::dialogDelayMs / 2,
                     qPrintable(QString::number(sample.elapsedMs)));
            QCOMPARE(sample.dialogTitle, command->title());
            QVERIFY(sample.dialogHasBar);
            sawDialog = true;
        }
    }
    QCOMPARE(sawDialog, dialogShown);
    QCOMPARE(visibleDialog(), nullptr);
    QCOMPARE(enabledCommands(), enabledBefore);
}

void TestCommandRunner::closingDuringWorkAsksThenCancelsThenExits_data()
{
    QTest::addColumn<bool>("answerYes");
    QTest::newRow("yes: cancel and exit") << true;
    QTest::newRow("no: the work goes on") << false;
}

void TestCommandRunner::closingDuringWorkAsksThenCancelsThenExits()
{
    QFETCH(bool, answerYes);
    MainWindow &window = m_fixture->window();
    QSignalSpy closed(&window, &MainWindow::closed);
    MessageBox::setNextAnswer(answerYes ? QMessageBox::Yes : QMessageBox::No);

    const auto command =
        std::make_shared<TimedCommand>(answerYes ? int(TimedCommand::untilCancelled) : 300);
    bool asked = false;
    const bool succeeded = run(command, [&](const Sample &) {
        if (!asked) {
            asked = true;
            window.close();
            // The window stays until the work has stopped.
            QVERIFY(window.isVisible());
        }
    });

    QVERIFY(asked);
    QCOMPARE(MessageBox::lastText(), QStringLiteral("还有工作正在进行，要取消它并退出吗？"));
    QCOMPARE(succeeded, !answerYes);
    QCOMPARE(command->wasCancelled(), answerYes);
    if (answerYes) {
        QTRY_COMPARE(closed.count(), 1);
        QVERIFY(!window.isVisible());
    } else {
        QTest::qWait(50);
        QCOMPARE(closed.count(), 0);
        QVERIFY(window.isVisible());
    }
}

void TestCommandRunner::startHandsTheOutcomeToDoneOnceLater_data()
{
    QTest::addColumn<int>("lastsMs");
    QTest::addColumn<int>("windsDownMs");
    QTest::addColumn<bool>("cancel");
    QTest::newRow("finishes") << 20 << 0 << false;
    QTest::newRow("cancelled") << int(TimedCommand::untilCancelled) << 0 << true;
    // done does not wait for the thread to wind down.
    QTest::newRow("cancelled, slow to stop") << int(TimedCommand::untilCancelled) << 300 << true;
}

void TestCommandRunner::startHandsTheOutcomeToDoneOnceLater()
{
    QFETCH(int, lastsMs);
    QFETCH(int, windsDownMs);
    QFETCH(bool, cancel);
    QWidget window;
    CommandRunner runner(&window);
    QList<bool> busyCalls;
    runner.setBusyHandler([&busyCalls](bool busy) { busyCalls.append(busy); });
    QSignalSpy idle(&runner, &CommandRunner::idle);
    CommandQueue &queue = runner;

    struct Call
    {
        Command *command;
        bool onWindowThread;
        bool queueBusy;
        bool commandFinished;
    };
    QList<Call> calls;
    const auto command = std::make_shared<TimedCommand>(lastsMs, windsDownMs);
    QVERIFY(queue.start(command, [&](Command &ended) {
        calls.append({&ended, QThread::currentThread() == window.thread(), queue.isBusy(),
                       ended.isFinished()});
    }));
    QVERIFY(queue.isBusy());
    QCOMPARE(busyCalls, QList<bool>{true});
    if (cancel) {
        QTest::qWait(20);
        queue.cancel();
        queue.cancel(); // a second 取消 changes nothing
    }
    QCOMPARE(calls.size(), 0); // never from inside start() or cancel()
    QTRY_COMPARE(calls.size(), 1);
    QCOMPARE(calls.first().command, command.get());
    QVERIFY(calls.first().onWindowThread);
    QVERIFY(!calls.first().queueBusy);
    if (!cancel)
        QVERIFY(calls.first().commandFinished);
    if (windsDownMs > 0)
        QVERIFY(!calls.first().commandFinished);
    QCOMPARE(command->succeeded(), !cancel);
    QCOMPARE(command->wasCancelled(), cancel);
    QCOMPARE(busyCalls, (QList<bool>{true, false}));
    QCOMPARE(idle.count(), 1);

    // Nothing more arrives once the thread has wound down.
    runner.finishLingering();
    QVERIFY(command->isFinished());
    QTest::qWait(50);
    QCOMPARE(calls.size(), 1);
    QCOMPARE(idle.count(), 1);
}

void TestCommandRunner::startIsRefusedWhileACommandRuns()
{
    QWidget window;
    CommandRunner runner(&window);
    CommandQueue &queue = runner;
    int firstDone = 0;
    int secondDone = 0;
    const auto countSecond = [&secondDone](Command &) { ++secondDone; };
    const auto first = std::make_shared<TimedCommand>(int(TimedCommand::untilCancelled));
    const auto second = std::make_shared<TimedCommand>(20);
    bool secondStarted = false;
    QVERIFY(queue.start(first, [&](Command &) {
        ++firstDone;
        // The queue is free again inside done.
        secondStarted = queue.start(second, countSecond);
    }));
    QVERIFY(!queue.start(second, countSecond));
    QVERIFY(!second->isRunning());
    // Waiting (run) is refused the same way.
    QVERIFY(!runner.run(second));
    QVERIFY(!second->isRunning());

    queue.cancel();
    QTRY_COMPARE(firstDone, 1);
    QVERIFY(first->wasCancelled());
    QVERIFY(secondStarted);
    QTRY_COMPARE(secondDone, 1);
    QVERIFY(second->succeeded());
    QCOMPARE(firstDone, 1);
}

QTEST_MAIN(TestCommandRunner)
#include "test_commandrunner.moc"
