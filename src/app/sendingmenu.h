#pragma once

class MainWindow;
class SendingController;

// The main window's 短信 menu opens the windows of sending: its requests go
// to the controller, which lies below the window and knows nothing of it.
namespace SendingMenu {

void attach(MainWindow &window, SendingController &sending);

} // namespace SendingMenu
