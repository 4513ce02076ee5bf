#pragma once

#include "safekeeping/backupring.h"
#include "storage/integritycheck.h"

#include <QDialog>
#include <QList>

#include <memory>

class AppSession;
class MainWindow;
class RestoreCheckCommand;
class QPushButton;
class QTableWidget;

// "从备份恢复…": lists the backups of the ring, newest first, with when each
// was written, how many groups and contacts it holds and whether it passes
// the integrity check. The list shows at once; the checks run in the
// background and fill it in, and a backup can be restored as soon as its own
// check passed. The chosen one replaces the database (the current
// file is kept aside) and the main window reloads its groups. The SMS box
// keeps its text.
class RestoreDialog : public QDialog
{
    Q_OBJECT

public:
    RestoreDialog(AppSession &session, MainWindow &window);
    ~RestoreDialog() override;

    // Connects the main window's 文件 menu command to a new dialog each time.
    static void attach(MainWindow &window, AppSession &session);

    int backupCount() const { return int(m_backups.size()); }
    // Every check has finished.
    bool checksDone() const;
    // Restores the backup of the given row after asking; true when done.
    bool restoreRow(int row);

private:
    struct Backup
    {
        BackupRing::Entry entry;
        bool checked = false;
        bool passed = false;
        QString reason; // why the check failed
        IntegrityCheck::Counts counts;
    };

    void fillTable();
    void showCheck(int row, bool passed, const QString &reason, qint64 groups, qint64 contacts);
    void restoreSelected();

    AppSession &m_session;
    MainWindow &m_window;
    QList<Backup> m_backups;
    QTableWidget *m_table = nullptr;
    QPushButton *m_restoreButton = nullptr;
    std::unique_ptr<RestoreCheckCommand> m_checks;
};
