#include "app/programstart.h"

#include "app/commandline.h"
#include "app/datafolder.h"
#include "app/programidentity.h"
#include "app/restoredialog.h"
#include "app/sendingmenu.h"
#include "app/terminationwatch.h"
#include "desktop/messagebox.h"
#include "followup/ui/kdeconnectdialer.h"
#include "mainwindow/mainwindow.h"
#include "phonelink/kdeconnectphones.h"
#include "safekeeping/appsession.h"
#include "safekeeping/runningcopy.h"
#include "safekeeping/shutdownsequence.h"
#include "safekeeping/startuprepair.h"

#include <QApplication>
#include <QDate>
#include <QDeadlineTimer>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QThread>
#include <QTimer>
#include <QTranslator>

namespace {

void useChineseFont(QApplication &application)
{
    const QStringList preferred = {QStringLiteral("WenQuanYi Micro Hei"),
                                   QStringLiteral("Noto Sans CJK SC"),
                                   QStringLiteral("WenQuanYi Zen Hei")};
    const QStringList available = QFontDatabase::families();
    for (const QString &family : preferred) {
        if (available.contains(family)) {
            QFont font(family, 9);
            application.setFont(font);
            return;
        }
    }
}

// Qt's own dialogs (file dialogs, context menus) in Simplified Chinese.
void useChineseQtTexts(QApplication &application)
{
    auto *translator = new QTranslator(&application);
    if (translator->load(QStringLiteral("qtbase_zh_CN"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
}

void bringForward(QWidget &window)
{
    // Once closed (hidden while the backup is written) it stays closed; a
    // minimized window counts as visible.
    if (!window.isVisible())
        return;
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

enum class SecondStart { Shown, Started, NotStarted };

// Another copy holds the database. One that runs shows its window instead;
// one that is closing (writing the day's backup) no longer answers but holds
// the lock a moment longer: this start waits for it to go and then starts.
SecondStart meetRunningCopy(AppSession &session, QString *message)
{
    const QDeadlineTimer deadline(8000);
    while (!deadline.hasExpired()) {
        if (RunningCopy::askToShow(session.databasePath(), 500))
            return SecondStart::Shown;
        if (session.start(message))
            return SecondStart::Started;
        if (!session.isRunningElsewhere())
            return SecondStart::NotStarted;
        QThread::msleep(100);
    }
    return SecondStart::NotStarted;
}

} // namespace

int runProgram(int &argc, char **argv)
{
    ProgramIdentity::apply();
    const CommandLine options = CommandLine::parse(argc, argv);
    if (options.action() != CommandLine::Action::Run)
        return options.answer();
    const DataFolder dataFolder = DataFolder::choose(options.dataFolder());

    // The database is opened before the application object starts its
    // threads: deriving the key (64,000 hash rounds, each allocating) takes
    // twice as long once the process has more than one thread.
    AppSession session(dataFolder.path());
    QString message;
    bool started = dataFolder.prepare(&message) && session.start(&message);

    QApplication application(argc, argv);
    useChineseFont(application);
    useChineseQtTexts(application);
    if (!started && session.isRunningElsewhere()) {
        const SecondStart second = meetRunningCopy(session, &message);
        if (second == SecondStart::Shown)
            return 0;
        started = second == SecondStart::Started;
        if (!started && session.isRunningElsewhere()) {
            MessageBox::information(nullptr, message);
            return 0;
        }
    }
    if (!started && !StartupRepair::recover(session, message))
        return 1;

    KdeConnectPhones phones;
    KdeConnectDialer dialer(phones);
    MainWindow window(session.store(), dataFolder.importStartFolder(), nullptr, &dialer);
    window.setSmsText(session.initialSmsText());
    ShutdownSequence shutdown(session);
    RunningCopy runningCopy(session.databasePath());
    // A start while this copy closes waits for it instead of asking it.
    shutdown.setLeavingHandler([&runningCopy] { runningCopy.stopAnswering(); });
    window.setFollowUpProblem(session.followUpProblem());
    SendingMenu sendingMenu(window, session, phones);
    window.setShutdownHandler([&shutdown, &window, &sendingMenu](const QString &smsText) {
        return sendingMenu.mayClose() && shutdown.run(&window, smsText);
    });
    QObject::connect(&window, &MainWindow::closed, &application, &QApplication::quit,
                     Qt::QueuedConnection);
    RestoreDialog::attach(window, session);
    // Being told to stop (logout, kill) closes the window like the user
    // would, so nothing typed is lost and the day's backup is written.
    TerminationWatch termination;
    QObject::connect(&termination, &TerminationWatch::terminationRequested, &window,
                     [&shutdown, &window, &sendingMenu] {
                         sendingMenu.stopForTermination();
                         shutdown.requestTermination();
                         window.close();
                     });
    QObject::connect(&runningCopy, &RunningCopy::showRequested, &window,
                     [&window] { bringForward(window); });
    runningCopy.listen();
    window.show();
    if (!session.upgradeProblem().isEmpty())
        MessageBox::information(&window, session.upgradeProblem());
    sendingMenu.offerUnfinished();
    if (!session.startNotes().isEmpty())
        MessageBox::warning(&window, session.startNotes().join(QLatin1Char('\n')));
    // Lets scripted checks (the package test, the start-up benchmark) start
    // the program and have it close itself the normal way.
    if (qEnvironmentVariableIsSet("LANZHOU_SMS_CLOSE_AFTER_START"))
        QTimer::singleShot(0, &window, &QWidget::close);
    const int status = application.exec();
    return status != 0 ? status : shutdown.exitStatus();
}
