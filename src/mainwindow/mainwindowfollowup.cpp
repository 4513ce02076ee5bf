// The main window's side of the follow-up: the menu 回访(V), the grid's
// context menu, and what the follow-up windows ask of the main window.

#include "mainwindow/mainwindow.h"

#include "followup/ui/followupdesk.h"
#include "mainwindow/contactgrid.h"
#include "mainwindow/contactlistmodel.h"
#include "mainwindow/contacttableview.h"
#include "mainwindow/gridlook.h"

#include <QAction>
#include <QCheckBox>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>

void MainWindow::buildFollowUpMenu()
{
    m_followUp = new FollowUpDesk(m_store, m_phoneDialer, this);
    connect(m_followUp, &FollowUpDesk::showInMainWindow, this, &MainWindow::showWorkingList);
    connect(m_followUp, &FollowUpDesk::locateContact, this, &MainWindow::showContact);

    QMenu *menu = menuBar()->addMenu(QStringLiteral("回访(V)"));
    menu->setObjectName(QStringLiteral("回访"));
    QAction *history = menu->addAction(QStringLiteral("回访记录…"));
    history->setObjectName(QStringLiteral("回访记录"));
    connect(history, &QAction::triggered, this, [this] { openFollowUpHistory(); });
    m_dueAction = menu->addAction(FollowUpDesk::dueMenuText(0));
    m_dueAction->setObjectName(QStringLiteral("待回访名单"));
    connect(m_dueAction, &QAction::triggered, m_followUp, &FollowUpDesk::openDueList);
    menu->addSeparator();
    QAction *exportAction = menu->addAction(QStringLiteral("导出回访记录…"));
    exportAction->setObjectName(QStringLiteral("导出回访记录"));
    connect(exportAction, &QAction::triggered, m_followUp, &FollowUpDesk::exportRecords);

    // The count follows every change, and is read afresh whenever the menu
    // opens, so a new day shows without a restart.
    connect(m_followUp, &FollowUpDesk::dueCountChanged, this, &MainWindow::showDueCount);
    connect(menu, &QMenu::aboutToShow, this, [this] { showDueCount(m_followUp->dueCount()); });
    showDueCount(m_followUp->dueCount());

    buildGridContextMenu();
}

void MainWindow::buildGridContextMenu()
{
    m_rowMenu = new QMenu(this);
    m_rowMenu->setObjectName(QStringLiteral("rowMenu"));
    QAction *history = m_rowMenu->addAction(QStringLiteral("回访记录…"));
    history->setObjectName(QStringLiteral("rowHistory"));
    connect(history, &QAction::triggered, this, [this] { openFollowUpHistory(); });
    QAction *call = m_rowMenu->addAction(QStringLiteral("拨打电话"));
    call->setObjectName(QStringLiteral("rowCall"));
    connect(call, &QAction::triggered, this, [this] {
        const qsizetype index = m_grid->selectedIndex();
        if (index >= 0)
            m_followUp->call(m_contacts->at(index).mobile().toString());
    });

    ContactTableView *table = m_grid->table();
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table, &QWidget::customContextMenuRequested, this, [this, table](const QPoint &pos) {
        // The mouse picks the row under it; the keyboard's menu key keeps the selection.
        const int shownRow = pos.y() / GridLook::rowHeight();
        if (table->viewport()->rect().contains(pos) && m_grid->contactAtRow(shownRow) >= 0)
            m_grid->selectShownRow(shownRow);
        if (m_grid->selectedIndex() < 0)
            return;
        m_rowMenu->popup(table->viewport()->mapToGlobal(pos));
    });
}

void MainWindow::openFollowUpHistory()
{
    const qsizetype index = m_grid->selectedIndex();
    m_followUp->openHistory(index >= 0 ? m_contacts->at(index).mobile().toString() : QString());
}

void MainWindow::showDueCount(qsizetype count)
{
    m_dueAction->setText(FollowUpDesk::dueMenuText(count));
}

void MainWindow::showWorkingList(const ContactList &contacts)
{
    showNoGroupListed();
    m_remarksBox->setChecked(false);
    m_contacts->replaceAll(contacts);
    rebuildRecipientList();
    raise();
    activateWindow();
}

bool MainWindow::showContact(const QString &group, qint64 rowId)
{
    const QList<QListWidgetItem *> items = m_groupList->findItems(group, Qt::MatchExactly);
    if (items.isEmpty())
        return false;
    m_refillingGroups = true;
    m_groupList->setCurrentItem(items.first());
    m_refillingGroups = false;
    chooseGroup(group);
    const qsizetype index = m_contacts->indexOfId(rowId);
    if (index < 0)
        return false;
    ContactTableView *table = m_grid->table();
    table->setScrollValue(int(std::min<qsizetype>(index, table->scrollBar()->maximum())));
    table->selectContact(index);
    raise();
    activateWindow();
    table->setFocus();
    return true;
}

FollowUpDesk &MainWindow::followUp()
{
    return *m_followUp;
}
