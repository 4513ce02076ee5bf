#include "programstart.h"

#include "appsession.h"
#include "mainwindow.h"
#include "messagebox.h"
#include "terminationwatch.h"

#include <QApplication>
#include <QDate>
#include <QFont>
#include <QFontDatabase>

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

} // namespace

int runProgram(QApplication &application)
{
    useChineseFont(application);

    AppSession session;
    QString message;
    if (!session.start(&message)) {
        MessageBox::warning(nullptr, message);
        return 1;
    }

    MainWindow window(session.store(), session.appFolder());
    window.setSmsText(session.initialSmsText());
    window.setShutdownHandler([&session](const QString &smsText) {
        return session.finish(smsText, QDate::currentDate());
    });
    QObject::connect(&window, &MainWindow::closed, &application, &QApplication::quit,
                     Qt::QueuedConnection);
    // Being told to stop (logout, kill) closes the window like the user
    // would, so nothing typed is lost and the day's backup is written.
    TerminationWatch termination;
    QObject::connect(&termination, &TerminationWatch::terminationRequested, &window,
                     &QWidget::close);
    window.show();
    return application.exec();
}
