#pragma once

#include "safekeeping/backupring.h"
#include "storage/integritycheck.h"

#include <QDialog>
#include <QList>

class AppSession;
class MainWindow;
class QPushButton;
class QTableWidget;

// "从备份恢复…": lists the backups of the ring, newest first, with when each
// was written, how many groups and contacts it holds and whether it passes
// the integrity check; the chosen one replaces the database (the current
// file is kept aside) and the main window reloads its groups. The SMS box
// keeps its text.
class RestoreDialog : public QDialog
{
    Q_OBJECT

public:
    RestoreDialog(AppSession &session, MainWindow &window);

    // Connects the main window's 文件 menu command to a new dialog each time.
    static void attach(MainWindow &window, AppSession &session);

    int backupCount() const { return int(m_backups.size()); }
    // Restores the backup of the given row after asking; true when done.
    bool restoreRow(int row);

private:
    struct Backup
    {
        BackupRing::Entry entry;
        bool passed = false;
        QString reason; // why the check failed
        IntegrityCheck::Counts counts;
    };

    void fillTable();
    void restoreSelected();

    AppSession &m_session;
    MainWindow &m_window;
    QList<Backup> m_backups;
    QTableWidget *m_table = nullptr;
    QPushButton *m_restoreButton = nullptr;
};
