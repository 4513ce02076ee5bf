// Renders the main window over a fresh database to a PNG, for the README:
//   lanzhou_screenshot <output.png>

#include "mainwindow/contactgrid.h"
#include "mainwindow/mainwindow.h"
#include "safekeeping/appsession.h"

#include <QApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    if (argc < 2)
        return 2;
    QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9));
    QTemporaryDir folder;
    AppSession session(folder.path());
    QString message;
    if (!session.start(&message))
        return 1;
    MainWindow window(session.store(), folder.path());
    window.setSmsText(QStringLiteral("周五下午三点在二楼会议室开会，请准时参加。"));
    window.show();
    window.findChild<QListWidget *>(QStringLiteral("List1"))->setCurrentRow(0);
    window.grid().selectShownRow(1);
    QTimer::singleShot(200, [&] {
        window.grab().save(QString::fromLocal8Bit(argv[1]));
        application.quit();
    });
    return application.exec();
}
