#pragma once

#include <QString>

#include <memory>

class AppSession;
class KdeConnectPhones;
class MainWindow;
class ModemManagerLink;
class SendingController;
class SendingService;

// The sending side of the program, wired to the main window's 短信 menu:
// ModemManager's modems, the service that sends, and the controller of the
// windows of sending (which lies below the main window and knows nothing of
// it). When the database's send log cannot be used, the menu says why and
// nothing else of sending is made.
class SendingMenu
{
public:
    SendingMenu(MainWindow &window, AppSession &session, KdeConnectPhones &phones);
    ~SendingMenu();
    SendingMenu(const SendingMenu &) = delete;
    SendingMenu &operator=(const SendingMenu &) = delete;

    // false: a batch runs and the user chose to keep it running.
    bool mayClose();
    void stopForTermination();
    // What a stopped program left and what is left to send (see
    // SendingController::offerUnfinished).
    void offerUnfinished();

private:
    std::unique_ptr<ModemManagerLink> m_modems;
    std::unique_ptr<SendingService> m_service;
    SendingController *m_controller = nullptr; // a child of the window
};
