#pragma once

#include "core/contact.h"
#include "followup/followupstore.h"
#include "followup/ui/recordeditor.h"

#include <QDialog>

class DueListModel;
class QLabel;
class QTableView;

// "待回访名单": everyone due for a follow-up today or earlier, across all
// groups, the longest due first.
class DueListDialog : public QDialog
{
    Q_OBJECT

public:
    // clock tells what today is, at every reading of the list.
    DueListDialog(FollowUpStore &store, RecordEditor::Clock clock, QWidget *parent);

    // Reads the list for today and shows the window.
    void showList();
    void reload();

    DueListModel &model() { return *m_model; }
    QTableView *table() const { return m_table; }
    // The entry of the highlighted row, or null.
    const DueEntry *selectedEntry() const;

    // The list as working-list entries, ticked, in the list's order. They
    // exist only in the working list (like rows read from a workbook): the
    // people come from many groups and some from none.
    static ContactList asWorkingList(const QVector<DueEntry> &entries);

signals:
    void historyRequested(const QString &mobile);
    void callRequested(const QString &mobile);
    void showInMainWindow(const ContactList &contacts);
    // A double-clicked person: the main window selects the group and row.
    void locateRequested(const DueEntry &entry);

private:
    void requestForSelected(void (DueListDialog::*signal)(const QString &));

    FollowUpStore &m_store;
    RecordEditor::Clock m_clock;
    DueListModel *m_model = nullptr;
    QTableView *m_table = nullptr;
    QLabel *m_count = nullptr;
};
