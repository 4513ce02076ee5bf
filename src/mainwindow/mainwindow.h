#pragma once

#include "core/contact.h"
#include "model/recipientlines.h"

#include <QMainWindow>

#include <functional>

class CommandRunner;
class ContactEditor;
class ContactGrid;
class ContactListModel;
class GroupDialog;
class ContactStore;
class FollowUpDesk;
class PhoneDialer;
class QAction;
class QMenu;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class RecipientListBox;

// Form1: the group list and search on the left, the contact grid in the
// middle, the SMS text and the recipient list on the right, the command
// buttons below.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Runs at close with the SMS text, the window still shown; false keeps
    // the window open (the text could not be stored and the user stays).
    using ShutdownHandler = std::function<bool(const QString &smsText)>;

    // phoneDialer (may be null): the phone that dials for the follow-up.
    MainWindow(ContactStore &store, const QString &applicationFolder, QWidget *parent = nullptr,
               PhoneDialer *phoneDialer = nullptr);
    ~MainWindow() override;

    void setShutdownHandler(ShutdownHandler handler);
    void setSmsText(const QString &text);
    QString smsText() const;

    ContactListModel &contactList() { return *m_contacts; }
    // Runs the long work of the window's commands.
    CommandRunner &commandRunner() { return *m_runner; }
    ContactGrid &grid() { return *m_grid; }

    // The group whose contacts are listed ("" when none, e.g. after an import).
    QString currentGroup() const { return m_currentGroup; }
    // The path chosen in the last file dialog of an import or export ("" before any).
    QString lastFilePath() const { return m_lastFilePath; }
    // The group selected in the group list ("" when none).
    QString selectedGroup() const;

    // Refills the group list from the store; nothing stays selected.
    void reloadGroups();
    // The database file was replaced (restored from a backup): the open
    // dialogs close, the groups are read anew and the working list empties;
    // the SMS text stays as typed.
    void databaseReplaced();
    // Makes a group the current one and lists all its contacts.
    void chooseGroup(const QString &group);
    // Re-runs the query of the current group with the search boxes' filters.
    void reloadContacts();
    // Rebuilds the recipient list and its count from the working list.
    void rebuildRecipientList();

    // The commands of the buttons and menus.
    void addContact();
    void modifyContact();
    void deleteContact();
    void tickAll();
    void untickAll();
    void addGroup();
    void saveListAsGroup();
    void deleteGroup();
    void importWorkbook();
    void exportWorkbook();
    void writePhoneBook();
    void openHelpPage();
    void openHomePage();
    void showAbout();

    // The follow-up: the history of the highlighted contact; a list (e.g.
    // the people due) as the working list, ticked, without a group; a
    // stored contact shown in its group and selected.
    void openFollowUpHistory();
    void showWorkingList(const ContactList &contacts);
    bool showContact(const QString &group, qint64 rowId);
    FollowUpDesk &followUp();
    // The follow-up records cannot be used with this database: every
    // follow-up command says why instead.
    void setFollowUpProblem(const QString &problem);
    // 短信 > 直接发送…, with the progress of a batch that runs meanwhile.
    void setSendMenuText(const QString &text);

signals:
    void closed();
    // 文件 > 从备份恢复… was chosen; the dialog belongs to whoever holds the backups.
    void restoreFromBackupRequested();
    // 短信 > 直接发送… was chosen: the working list (its ticks decide who)
    // and the SMS text as they stand.
    void sendRequested(const ContactList &workingList, const QString &smsText);
    // 短信 > 发送记录… and 短信 > 退订名单… were chosen.
    void sendLogRequested();
    void optOutListRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildSearchAndGroups(QWidget *client);
    void buildSmsAndRecipients(QWidget *client);
    void buildButtons(QWidget *client);
    void buildMenus();
    void buildFollowUpMenu();
    void buildGridContextMenu();
    void showDueCount(qsizetype count);
    // false, having said why, when the follow-up cannot be used.
    bool followUpUsable();
    void setTabOrder();
    QPushButton *button(const QString &name, const QString &caption, int left, int top, int width,
                        int height, QWidget *parent);

    void connectCommands();
    // Switches off (and on again) everything that starts a command, while one runs.
    void setCommandsEnabled(bool enabled);
    void onGroupSelected();
    void search();
    void clearFilters();
    void showNoGroupListed();
    // Groups read anew, none chosen, the working list empty.
    void relistGroups();
    void updateRecipientLine(qsizetype index);
    void showRecipientCount();

    ContactStore &m_store;
    QString m_applicationFolder;
    ShutdownHandler m_shutdown;
    bool m_refillingGroups = false;
    bool m_groupJustSelected = false;
    bool m_shutdownDone = false;
    bool m_closeWhenIdle = false; // closing waits for the cancelled work to stop
    QString m_currentGroup;
    QString m_lastFilePath;

    ContactListModel *m_contacts = nullptr;
    ContactGrid *m_grid = nullptr;
    QListWidget *m_groupList = nullptr;      // List1
    QLineEdit *m_nameFilter = nullptr;       // Text3
    QLineEdit *m_mobileFilter = nullptr;     // Text4
    QPlainTextEdit *m_smsBox = nullptr;      // Text1
    RecipientListBox *m_recipientBox = nullptr; // Text2
    RecipientLines m_recipientLines;         // where each contact's line stands in Text2
    QLabel *m_countLabel = nullptr;          // Label3
    QCheckBox *m_remarksBox = nullptr;       // Check1
    CommandRunner *m_runner = nullptr;
    ContactEditor *m_editor = nullptr;       // Form2
    GroupDialog *m_groupDialog = nullptr;    // Form3
    PhoneDialer *m_phoneDialer = nullptr;
    FollowUpDesk *m_followUp = nullptr;
    QString m_followUpProblem;
    QAction *m_sendAction = nullptr;
    QAction *m_dueAction = nullptr;          // 回访 → 待回访名单, with the count
    QMenu *m_rowMenu = nullptr;              // the grid rows' context menu
};
