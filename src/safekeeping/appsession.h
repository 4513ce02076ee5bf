#pragma once

#include "safekeeping/databaserestore.h"
#include "storage/contactstore.h"
#include "storage/database.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <memory>

class InstanceLock;

// The program's hold on its data from start to exit: makes sure the database
// file exists (writing the built-in template into an empty folder), keeps the
// one connection open, and at exit saves the SMS text, closes the database and
// writes the day's backup copy. No widgets: the caller shows the messages.
class AppSession
{
public:
    // appFolder empty: AppFolder::path(), looked up in start().
    explicit AppSession(const QString &appFolder = QString());
    ~AppSession();
    AppSession(const AppSession &) = delete;
    AppSession &operator=(const AppSession &) = delete;

    // Takes the database's lock, then removes the leftovers of interrupted
    // writes, ensures the database file and opens it. On failure returns
    // false and message receives a Chinese sentence that names the file and
    // says what failed; the file is then exactly as it was before. A file that opens
    // but reports damage when read also sets databaseDamaged().
    bool start(QString *message);
    bool isStarted() const { return m_database.isOpen(); }
    // Did the last start() stop because nothing tells whether another copy
    // (on another computer) uses the database? message then holds the
    // question to ask; on 是 the caller starts again with startDespiteLock().
    bool lockUncheckable() const { return m_lockUncheckable; }
    bool startDespiteLock(QString *message);
    // What the caller tells the user once the window shows: the data folder
    // cannot be written, a recovery file that was left alone, ...
    QStringList startNotes() const { return m_startNotes; }
    // Why the send log or the follow-up records cannot be used with this file
    // ("" when both can): their tables could not be added, the file was
    // written by a newer program, or a table is not the one this program
    // writes. One message for the caller to show; the contacts work all the
    // same. sendingProblem() and followUpProblem() say which part is off.
    QString upgradeProblem() const { return m_upgradeProblem; }
    QString sendingProblem() const { return m_sendingProblem; }
    QString followUpProblem() const { return m_followUpProblem; }
    // Did the last start() fail because the database file is damaged?
    bool databaseDamaged() const { return m_damaged; }

    // Closes the database, puts the backup in its place (the replaced file
    // is kept aside, see DatabaseRestore) and starts again on it. keptAs
    // receives where the replaced file is kept. When the backup cannot be
    // put in place, the database is as before (and open again, if it was;
    // message then also says when it could not be opened again).
    bool restoreFrom(const QString &backupPath, DatabaseRestore::Reason reason, QString *keptAs,
                     QString *message);
    // start() failed because another running copy holds the database.
    bool isRunningElsewhere() const { return m_runningElsewhere; }

    ContactStore &store() { return m_store; }
    Database &database() { return m_database; }
    QString appFolder() const { return m_appFolder; }
    QString databasePath() const;

    // The SMS text as stored when start() ran ("" when none could be read),
    // or the text an exit that could not store it kept in the recovery file
    // (start() puts it back into the database and then removes the file).
    QString initialSmsText() const { return m_initialSmsText; }

    // Saves smsText into the one 短信 row, closes the database and copies the
    // file to 数据备份/<day>日/通讯录.dat. Each step runs even when an
    // earlier one failed. The backup is replaced only by a copy that passes
    // the integrity check, and never in a run in which a read reported a
    // damaged file. Returns the problems as Chinese sentences, empty when
    // all went well.
    QStringList finish(const QString &smsText, QDate today);
    // The two halves of finish(), for an exit that retries the first.
    // On failure error receives the reason.
    bool saveSmsText(const QString &smsText, QString *error);
    QStringList closeAndBackUp(QDate today);

private:
    // Writes the day's backup; returns the problem, "" when it was written.
    QString writeBackup(QDate today, bool damageSeen);

    void addStartNote(const QString &note);
    // Takes the database's lock, or says why not (false).
    bool takeLock(QString *message);
    // Ensures the database file and opens it (start() without the lock).
    bool openDatabase(QString *message);
    void restoreRecoveredSmsText();
    // Brings the file up to the tables of this version (see Migrations).
    void addNewTables();

    QString m_appFolder;
    std::unique_ptr<InstanceLock> m_lock; // held until the session ends
    bool m_runningElsewhere = false;
    bool m_lockUncheckable = false;
    bool m_lockWaived = false; // the user chose to go on without it
    QStringList m_startNotes;
    Database m_database;
    ContactStore m_store;
    QString m_initialSmsText;
    bool m_damaged = false;
    QString m_upgradeProblem;
    QString m_sendingProblem;
    QString m_followUpProblem;
};
