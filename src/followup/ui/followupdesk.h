#pragma once

#include "core/contact.h"
#include "followup/followupstore.h"
#include "followup/ui/phonedialer.h"
#include "followup/ui/recordeditor.h"

#include <QObject>

#include <optional>

class CallCard;
class ExportRun;
class ContactStore;
class DueListDialog;
class HistoryDialog;
class QWidget;

// The follow-up windows and commands, as the main window's menus reach them:
// a person's history, calling, the due list and the export. The main window
// hands in the stores and the phone; what the windows ask of the main window
// comes back as signals.
class FollowUpDesk : public QObject
{
    Q_OBJECT

public:
    // dialer may be null (no phone link); window parents the dialogs.
    FollowUpDesk(ContactStore &contacts, PhoneDialer *dialer, QWidget *window,
                 RecordEditor::Clock clock = {});
    ~FollowUpDesk() override;

    // false when the history window stays with a record being typed.
    bool openHistory(const QString &mobile);
    void openDueList();
    // Dials through the phone when one is reachable, else shows the number
    // with its QR code; either way a new 电话 record at the call's start
    // time is opened for the result. With several phones the user picks
    // one, and may have it kept for the rest of the run.
    void call(const QString &mobile);
    // Asks for the file, then writes it on a worker thread with a progress
    // dialog; the outcome is told when it is done.
    void exportRecords();
    bool isExporting() const { return m_export != nullptr; }

    // How many are due today; -1 when that cannot be read.
    qsizetype dueCount();
    // "待回访名单…", with the count while anyone is due.
    static QString dueMenuText(qsizetype count);
    // The database file was replaced: the windows close.
    void closeWindows();

    // What "now" is for new records and the due list (tests fix it).
    void setClock(RecordEditor::Clock clock) { m_clock = std::move(clock); }

    FollowUpStore &store() { return m_store; }
    HistoryDialog *historyWindow() const { return m_history; }
    DueListDialog *dueListWindow() const { return m_dueList; }
    CallCard *callCard() const { return m_callCard; }

signals:
    void dueCountChanged(qsizetype count);
    void showInMainWindow(const ContactList &contacts);
    // Select the group and the contact in the main window.
    void locateContact(const QString &group, qint64 rowId);

private:
    HistoryDialog &history();
    // The clock as the windows see it: whatever m_clock is at the time.
    RecordEditor::Clock windowClock();
    void showCallCard(const QString &mobile, const QString &reason);
    // The phone that dials: the only one, the one kept, or the user's pick
    // (none when the user cancels).
    std::optional<PhoneDialer::Phone> choosePhone(const QList<PhoneDialer::Phone> &phones,
                                                  const QString &mobile);
    void recordsChanged();

    FollowUpStore m_store;
    ContactStore &m_contacts;
    PhoneDialer *m_dialer;
    // The phone the user chose to dial with for the rest of the run.
    QString m_chosenPhone;
    QWidget *m_window;
    RecordEditor::Clock m_clock;
    HistoryDialog *m_history = nullptr;
    DueListDialog *m_dueList = nullptr;
    CallCard *m_callCard = nullptr;
    ExportRun *m_export = nullptr; // the export under way, a child of this
};
