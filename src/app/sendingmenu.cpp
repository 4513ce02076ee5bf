#include "app/sendingmenu.h"

#include "mainwindow/mainwindow.h"
#include "sending/ui/sendingcontroller.h"

void SendingMenu::attach(MainWindow &window, SendingController &sending)
{
    QObject::connect(&window, &MainWindow::sendRequested, &sending,
                     &SendingController::openSendDialog);
    QObject::connect(&window, &MainWindow::sendLogRequested, &sending,
                     &SendingController::openLogWindow);
    QObject::connect(&window, &MainWindow::optOutListRequested, &sending,
                     &SendingController::openOptOutWindow);
}
