// The commands behind the main window's buttons and menus.

#include "mainwindow/mainwindow.h"

#include "commands/exportcommand.h"
#include "commands/groupcommands.h"
#include "commands/importcommand.h"
#include "commands/phonebookcommand.h"
#include "commands/workerconnection.h"
#include "core/textrules.h"
#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "desktop/webpages.h"
#include "dialogs/aboutdialog.h"
#include "dialogs/commandrunner.h"
#include "dialogs/contacteditor.h"
#include "dialogs/groupdialog.h"
#include "dialogs/tipdialog.h"
#include "followup/ui/followupdesk.h"
#include "mainwindow/contactgrid.h"
#include "mainwindow/recipientlistbox.h"
#include "model/contactlistmodel.h"
#include "storage/contactstore.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTextDocument>

namespace {

const QString XlsFilter = QStringLiteral("Excel文件 (*.xls)");
const QString XlsxFilter = QStringLiteral("Excel 2007 工作簿 (*.xlsx)");

} // namespace

void MainWindow::connectCommands()
{
    m_runner = new CommandRunner(this);
    m_runner->setConnection(std::make_shared<WorkerConnection>(m_store.databasePath()));
    m_runner->setBusyHandler([this](bool busy) { setCommandsEnabled(!busy); });
    connect(m_runner, &CommandRunner::idle, this, [this] {
        if (m_closeWhenIdle) // after the event that ended the work
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    });
    m_editor = new ContactEditor(m_store, this);
    connect(m_editor, &ContactEditor::contactSaved, this, [this] {
        reloadContacts();
        rebuildRecipientList();
    });
    connect(m_editor, &ContactEditor::workingEntryEdited, this, [this](const Contact &edited) {
        m_contacts->replaceEntry(edited);
        rebuildRecipientList();
    });
    m_groupDialog = new GroupDialog(
        m_store, [this] { return m_contacts->tickedContacts(); }, *m_runner, this);
    connect(m_groupDialog, &GroupDialog::groupsChanged, this, &MainWindow::reloadGroups);
}

void MainWindow::setCommandsEnabled(bool enabled)
{
    menuBar()->setEnabled(enabled);
    const QList<QPushButton *> buttons = centralWidget()->findChildren<QPushButton *>();
    for (QPushButton *button : buttons)
        button->setEnabled(enabled);
    // Choosing a group or searching lists contacts: a command as well.
    m_groupList->setEnabled(enabled);
    m_nameFilter->setEnabled(enabled);
    m_mobileFilter->setEnabled(enabled);
}

// ---- Contacts --------------------------------------------------------------

void MainWindow::addContact()
{
    clearFilters();
    const QString group = selectedGroup();
    if (group.isEmpty()) {
        MessageBox::information(this, QStringLiteral("请首先选择分组！"));
        return;
    }
    m_editor->openForAdd(group);
}

void MainWindow::modifyContact()
{
    const qsizetype index = m_grid->selectedIndex();
    if (index < 0 || m_contacts->at(index).mobile().isEmpty())
        return;
    // The contact stays in the group it was listed from, whatever the group
    // list shows now (after the group dialog it shows no selection at all).
    m_editor->openForModify(currentGroup(), m_contacts->at(index));
}

void MainWindow::deleteContact()
{
    const qsizetype index = m_grid->selectedIndex();
    if (index < 0)
        return;
    const Contact contact = m_contacts->at(index);
    if (!contact.isStored()) {
        // An entry read from a workbook lives only in the working list.
        m_contacts->removeEntry(contact.rowId);
        rebuildRecipientList();
        return;
    }
    QString error;
    if (m_store.deleteContact(contact.rowId, &error) == StoreResult::Failed)
        MessageBox::warning(this, QStringLiteral("删除联系人“%1”失败：%2")
                                      .arg(contact.mobile(), error));
    reloadContacts();
    rebuildRecipientList();
}

void MainWindow::tickAll()
{
    m_contacts->setAllTicked(true);
}

void MainWindow::untickAll()
{
    m_contacts->setAllTicked(false);
}

// ---- Groups ----------------------------------------------------------------

void MainWindow::addGroup()
{
    m_groupDialog->openForAdd();
}

void MainWindow::saveListAsGroup()
{
    m_groupDialog->openForSaveAs();
}

void MainWindow::deleteGroup()
{
    const QString group = selectedGroup();
    if (group.isEmpty())
        return;
    if (!MessageBox::askYesNo(this, QStringLiteral("确定要删除分组“%1”吗？").arg(group)))
        return;
    const auto command = std::make_shared<DeleteGroupCommand>(m_runner->connection(), group);
    if (!m_runner->run(command)) {
        if (!command->wasCancelled())
            MessageBox::warning(this, QStringLiteral("删除分组“%1”失败：%2")
                                          .arg(group, command->error()));
        return;
    }
    relistGroups();
}

void MainWindow::databaseReplaced()
{
    // Their rows belong to the replaced file.
    m_editor->hide();
    m_groupDialog->hide();
    m_followUp->closeWindows();
    relistGroups();
}

void MainWindow::relistGroups()
{
    reloadGroups();
    showNoGroupListed();
    m_contacts->clear();
    rebuildRecipientList();
}

void MainWindow::showNoGroupListed()
{
    m_currentGroup.clear();
    m_refillingGroups = true;
    m_groupList->setCurrentRow(-1);
    m_groupList->clearSelection();
    m_refillingGroups = false;
}

// ---- Workbooks and the phone file ------------------------------------------

void MainWindow::importWorkbook()
{
    clearFilters();
    const QString path = FileDialog::openFileName(
        this, QStringLiteral("打开"), m_applicationFolder,
        QStringLiteral("Microsoft Excel 工作簿(*.xls);;Excel 工作簿(*.xlsx);;CSV 文件(*.csv);;"
                       "所有联系人表格(*.xls *.xlsx *.csv)"));
    if (path.isEmpty())
        return;
    m_lastFilePath = path;

    const auto command = std::make_shared<ImportCommand>(path);
    if (!m_runner->run(command)) {
        // The working list stays as it was.
        if (!command->wasCancelled())
            MessageBox::warning(this, command->error());
        return;
    }
    showNoGroupListed();
    {
        // The command laid the list out without remarks already.
        const QSignalBlocker quiet(m_remarksBox);
        m_remarksBox->setChecked(false);
    }
    m_contacts->replaceAll(command->takeContacts());
    m_recipientBox->replaceDocumentText(m_recipientLines.adopt(command->takeRecipients()));
    showRecipientCount();
}

void MainWindow::exportWorkbook()
{
    QString filter;
    const QString path = FileDialog::saveFileName(this, QStringLiteral("另存为"), QString(),
                                                  XlsFilter + QStringLiteral(";;") + XlsxFilter,
                                                  &filter);
    if (path.isEmpty())
        return;
    m_lastFilePath = path;
    const bool asXlsx = filter == XlsxFilter;
    // The extension is always appended, so the name typed in the dialog is
    // not the file written: ask here before replacing anything.
    const QString fileName = path + (asXlsx ? QStringLiteral(".xlsx") : QStringLiteral(".xls"));
    if (QFileInfo::exists(fileName)
        && !MessageBox::askYesNo(this, QStringLiteral("文件“%1”已存在，要替换它吗？").arg(fileName)))
        return;

    const auto command = std::make_shared<ExportCommand>(
        fileName, m_contacts->contacts(),
        asXlsx ? ExportCommand::Format::Xlsx : ExportCommand::Format::Xls);
    if (!m_runner->run(command)) {
        if (!command->wasCancelled())
            MessageBox::warning(this, QStringLiteral("导出失败，文件“%1”没有写成：%2")
                                          .arg(fileName, command->error()));
        return;
    }
    MessageBox::information(this, QStringLiteral("文件导出成功！"));
}

void MainWindow::writePhoneBook()
{
    const QString path = FileDialog::saveFileName(this, QStringLiteral("另存为"), QString(),
                                                  QStringLiteral("通讯录文件 (*.xcl)"));
    if (path.isEmpty())
        return;
    m_lastFilePath = path;
    // Records end at CR LF: the list as built keeps a line feed inside a name
    // in its record. After hand edits the box's own line ends count (and
    // lines it shows cut short are whole again).
    const QString recipients = m_recipientBox->isEditedByHand()
        ? m_recipientLines.wholeText(m_contacts->contacts(), m_recipientBox->toPlainText())
              .replace(u'\n', QStringLiteral("\r\n"))
        : TextRules::buildRecipientList(m_contacts->contacts(), m_remarksBox->isChecked()).text;
    const auto command = std::make_shared<PhoneBookCommand>(
        PhoneBookFile::fileNameFor(m_lastFilePath), smsText(), recipients);
    if (!m_runner->run(command)) {
        if (!command->wasCancelled())
            MessageBox::warning(this, command->error());
        return;
    }
    if (command->leftOut().count > 0)
        MessageBox::warning(this, command->leftOut().message());
    TipDialog::showFor(this);
}

// ---- Help ------------------------------------------------------------------

void MainWindow::openHelpPage()
{
    WebPages::open(WebPages::helpPage());
}

void MainWindow::openHomePage()
{
    WebPages::open(WebPages::homePage());
}

void MainWindow::showAbout()
{
    AboutDialog::showFor(this);
}
