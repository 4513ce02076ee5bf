// The main window's side of the follow-up: the menu 回访(V), the grid's
// context menu, and what the follow-up windows ask of the main window.

#include "mainwindow/mainwindow.h"

#include "desktop/messagebox.h"
#include "followup/ui/followupdesk.h"
#include "mainwindow/contactgrid.h"
#include "mainwindow/contacttableview.h"
#include "mainwindow/gridlook.h"
#include "model/contactlistmodel.h"

#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>

namespace {

// Opens the rows' context menu: a right click picks the row under the mouse
// first, the menu key (or Shift+F10) keeps the selection and opens the menu
// at the selected row.
class RowMenuTrigger : public QObject
{
public:
    RowMenuTrigger(ContactGrid &grid, QMenu &menu)
        : QObject(&menu)
        , m_grid(grid)
        , m_menu(menu)
    {
        grid.table()->installEventFilter(this);
        grid.rowArea()->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::ContextMenu)
            return false;
        const auto *request = static_cast<QContextMenuEvent *>(event);
        QWidget *rows = m_grid.rowArea();
        QPoint position = rows->mapFrom(static_cast<QWidget *>(watched), request->pos());
        if (request->reason() == QContextMenuEvent::Mouse) {
            const int shownRow = position.y() / GridLook::rowHeight();
            if (m_grid.contactAtRow(shownRow) >= 0)
                m_grid.selectShownRow(shownRow);
        }
        const qsizetype index = m_grid.selectedIndex();
        if (index < 0)
            return true;
        if (request->reason() != QContextMenuEvent::Mouse) {
            const qsizetype shownRow = index - m_grid.scrollValue();
            position = shownRow >= 0 && shownRow < ContactGrid::ShownRows
                           ? m_grid.cellRect(int(shownRow), ContactListModel::MobileColumn).center()
                           : rows->rect().center();
        }
        m_menu.popup(rows->mapToGlobal(position));
        return true;
    }

private:
    ContactGrid &m_grid;
    QMenu &m_menu;
};

} // namespace

void MainWindow::buildFollowUpMenu()
{
    m_followUp = new FollowUpDesk(m_store, m_phoneDialer, this);
    connect(m_followUp, &FollowUpDesk::showInMainWindow, this, &MainWindow::showWorkingList);
    connect(m_followUp, &FollowUpDesk::locateContact, this,
            [this](const QString &group, qint64 rowId) {
                if (!showContact(group, rowId))
                    MessageBox::information(
                        this, QStringLiteral("这个联系人已不在分组“%1”中，请刷新待回访名单。").arg(group));
            });

    QMenu *menu = menuBar()->addMenu(QStringLiteral("回访(V)"));
    menu->setObjectName(QStringLiteral("回访"));
    QAction *history = menu->addAction(QStringLiteral("回访记录…"));
    history->setObjectName(QStringLiteral("回访记录"));
    connect(history, &QAction::triggered, this, [this] { openFollowUpHistory(); });
    m_dueAction = menu->addAction(FollowUpDesk::dueMenuText(0));
    m_dueAction->setObjectName(QStringLiteral("待回访名单"));
    connect(m_dueAction, &QAction::triggered, this, [this] {
        if (followUpUsable())
            m_followUp->openDueList();
    });
    menu->addSeparator();
    QAction *exportAction = menu->addAction(QStringLiteral("导出回访记录…"));
    exportAction->setObjectName(QStringLiteral("导出回访记录"));
    connect(exportAction, &QAction::triggered, this, [this] {
        if (followUpUsable())
            m_followUp->exportRecords();
    });

    // The count follows every change, and is read afresh whenever the menu
    // opens, so a new day shows without a restart.
    connect(m_followUp, &FollowUpDesk::dueCountChanged, this, &MainWindow::showDueCount);
    connect(menu, &QMenu::aboutToShow, this, [this] {
        if (m_followUpProblem.isEmpty())
            showDueCount(m_followUp->dueCount());
    });
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
        if (index >= 0 && followUpUsable())
            m_followUp->call(m_contacts->at(index).mobile().toString());
    });
    new RowMenuTrigger(*m_grid, *m_rowMenu);
}

bool MainWindow::followUpUsable()
{
    if (m_followUpProblem.isEmpty())
        return true;
    MessageBox::information(this, m_followUpProblem);
    return false;
}

void MainWindow::setFollowUpProblem(const QString &problem)
{
    m_followUpProblem = problem;
    if (!problem.isEmpty())
        showDueCount(0);
}

void MainWindow::setSendMenuText(const QString &text)
{
    m_sendAction->setText(text);
}

void MainWindow::openFollowUpHistory()
{
    if (!followUpUsable())
        return;
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
