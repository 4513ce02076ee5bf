#pragma once

#include "mainwindow/mainwindow.h"
#include "safekeeping/appfolder.h"
#include "safekeeping/appsession.h"
#include "safekeeping/shutdownsequence.h"

#include <QTemporaryDir>
#include <memory>

class QListWidget;
class QPlainTextEdit;
class QLineEdit;
class QLabel;

// A main window over a fresh database in a temporary application folder.
class MainWindowFixture
{
public:
    MainWindowFixture();
    ~MainWindowFixture();

    bool start();
    // Closes the window (saving and backing up) and starts a new session
    // over the same folder.
    bool restart();

    MainWindow &window() { return *m_window; }
    AppSession &session() { return *m_session; }
    ContactStore &store() { return m_session->store(); }
    QString folder() const { return m_dir.path(); }

    template<typename T>
    T *child(const QString &name) { return m_window->findChild<T *>(name); }

    void clickGroup(const QString &name);
    void clickButton(const QString &name);
    QStringList recipientLines();
    QString countText();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<AppSession> m_session;
    std::unique_ptr<ShutdownSequence> m_shutdown;
    std::unique_ptr<MainWindow> m_window;
};
