#include "app/sendingmenu.h"

#include "desktop/messagebox.h"
#include "dialogs/commandrunner.h"
#include "mainwindow/mainwindow.h"
#include "phonelink/kdeconnectphones.h"
#include "safekeeping/appsession.h"
#include "sending/modemmanagerlink.h"
#include "sending/sendingservice.h"
#include "sending/ui/sendingcontroller.h"

SendingMenu::SendingMenu(MainWindow &window, AppSession &session, KdeConnectPhones &phones)
{
    if (const QString problem = session.sendingProblem(); !problem.isEmpty()) {
        const auto sayWhy = [&window, problem] { MessageBox::information(&window, problem); };
        QObject::connect(&window, &MainWindow::sendRequested, &window, sayWhy);
        QObject::connect(&window, &MainWindow::sendLogRequested, &window, sayWhy);
        QObject::connect(&window, &MainWindow::optOutListRequested, &window, sayWhy);
        return;
    }
    m_modems = std::make_unique<ModemManagerLink>(QDBusConnection::systemBus());
    m_service = std::make_unique<SendingService>(session.database(), *m_modems, phones,
                                                 &QDateTime::currentDateTime);
    m_controller = new SendingController(window, *m_service, window.commandRunner());
    QObject::connect(&window, &MainWindow::sendRequested, m_controller,
                     &SendingController::openSendDialog);
    QObject::connect(&window, &MainWindow::sendLogRequested, m_controller,
                     &SendingController::openLogWindow);
    QObject::connect(&window, &MainWindow::optOutListRequested, m_controller,
                     &SendingController::openOptOutWindow);
    QObject::connect(m_controller, &SendingController::sendMenuTextChanged, &window,
                     &MainWindow::setSendMenuText);
}

SendingMenu::~SendingMenu() = default;

bool SendingMenu::mayClose()
{
    return !m_controller || m_controller->mayClose();
}

void SendingMenu::stopForTermination()
{
    if (m_controller)
        m_controller->stopForTermination();
}

void SendingMenu::offerUnfinished()
{
    if (m_controller)
        m_controller->offerUnfinished();
}
