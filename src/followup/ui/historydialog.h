#pragma once

#include "followup/ui/recordeditor.h"

#include <QDialog>

class ContactStore;
class FollowUpStore;
class HistoryModel;
class QLabel;
class QPushButton;
class QTableView;

// "回访记录": one person (name, salutation, mobile, the groups that hold the
// number) and the history, newest first. Records are added, edited and
// deleted here; the messages of the send log are shown, not changed.
class HistoryDialog : public QDialog
{
    Q_OBJECT

public:
    HistoryDialog(FollowUpStore &store, ContactStore &contacts, RecordEditor::Clock clock,
                  QWidget *parent);

    // Shows the window for the number, read anew; false when a record of
    // another number is being typed and the user keeps it.
    bool showFor(const QString &mobile);
    // Is the editor free for another record? A record being typed is given
    // up only when the user says so.
    bool editorFree();
    QString mobile() const { return m_mobile; }
    // Reads the person and the history again.
    void reload();

    // A new record, its time the given one (e.g. when a call began).
    void addRecord(const QString &method, const QDateTime &time);
    void editRecord(int row);
    void deleteRecord(int row);
    // A line under the person, e.g. which phone is dialling.
    void setStatus(const QString &text);
    // Shows "换一部手机" beside the status line (a phone kept for the run
    // dials while there are several).
    void offerPhoneSwitch(bool offer);

    HistoryModel &model() { return *m_model; }
    RecordEditor &editor() { return *m_editor; }
    QString personText() const;
    QString statusText() const;

signals:
    void recordsChanged();
    void callRequested(const QString &mobile);
    void phoneSwitchRequested();

private:
    int selectedRow() const;
    // The store's record behind a row; false (after telling the user) for a
    // message of the send log or a record that is gone.
    bool storedRecord(int row, FollowUpRecord &record);

    FollowUpStore &m_store;
    ContactStore &m_contacts;
    RecordEditor::Clock m_clock;
    QString m_mobile;
    HistoryModel *m_model = nullptr;
    QTableView *m_table = nullptr;
    QLabel *m_person = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_phoneSwitch = nullptr;
    RecordEditor *m_editor = nullptr;
};
