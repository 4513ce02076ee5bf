#include "app/restoredialog.h"

#include "desktop/messagebox.h"
#include "mainwindow/mainwindow.h"
#include "safekeeping/appsession.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QTableWidgetItem *cell(const QString &text, Qt::Alignment alignment = Qt::AlignLeft)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(alignment | Qt::AlignVCenter);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

} // namespace

RestoreDialog::RestoreDialog(AppSession &session, MainWindow &window)
    : QDialog(&window)
    , m_session(session)
    , m_window(window)
{
    setObjectName(QStringLiteral("RestoreDialog"));
    setWindowTitle(QStringLiteral("从备份恢复"));
    setAccessibleName(windowTitle());

    auto *hint = new QLabel(QStringLiteral("选择要恢复的备份（最新的在最上面）。当前的数据库会改名保留，"
                                           "不会删除。"),
                            this);
    hint->setWordWrap(true);

    m_table = new QTableWidget(0, 5, this);
    m_table->setObjectName(QStringLiteral("BackupList"));
    m_table->setAccessibleName(QStringLiteral("备份"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("日期文件夹"), QStringLiteral("写入时间"),
                                        QStringLiteral("分组数"), QStringLiteral("联系人数"),
                                        QStringLiteral("检查结果")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_restoreButton = new QPushButton(QStringLiteral("恢复"), this);
    m_restoreButton->setObjectName(QStringLiteral("恢复"));
    m_restoreButton->setAccessibleName(m_restoreButton->text());
    m_restoreButton->setEnabled(false);
    auto *cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("取消"));
    cancel->setAccessibleName(cancel->text());

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_restoreButton);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    resize(560, 360);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_restoreButton, &QPushButton::clicked, this, &RestoreDialog::restoreSelected);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, [this] {
        const int row = m_table->currentRow();
        m_restoreButton->setEnabled(row >= 0 && row < m_backups.size()
                                    && m_backups[row].passed);
    });
    fillTable();
}

void RestoreDialog::attach(MainWindow &window, AppSession &session)
{
    QObject::connect(&window, &MainWindow::restoreFromBackupRequested, &window, [&window, &session] {
        RestoreDialog dialog(session, window);
        dialog.exec();
    });
}

void RestoreDialog::fillTable()
{
    // Every backup is read whole by the check: the hourglass while it runs.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (const BackupRing::Entry &entry : BackupRing::entries(m_session.appFolder())) {
        Backup backup;
        backup.entry = entry;
        backup.passed = IntegrityCheck::check(entry.path, &backup.reason, &backup.counts);
        m_backups.append(backup);
    }
    QApplication::restoreOverrideCursor();

    m_table->setRowCount(int(m_backups.size()));
    for (int row = 0; row < m_backups.size(); ++row) {
        const Backup &backup = m_backups[row];
        const auto count = [&backup](qint64 n) {
            return backup.passed ? QString::number(n) : QStringLiteral("—");
        };
        m_table->setItem(row, 0, cell(backup.entry.dayFolder));
        m_table->setItem(row, 1, cell(backup.entry.written.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
        m_table->setItem(row, 2, cell(count(backup.counts.groups), Qt::AlignRight));
        m_table->setItem(row, 3, cell(count(backup.counts.contacts), Qt::AlignRight));
        m_table->setItem(row, 4, cell(backup.passed
                                          ? QStringLiteral("完好")
                                          : QStringLiteral("未通过：%1").arg(backup.reason)));
        m_table->item(row, 4)->setToolTip(m_table->item(row, 4)->text());
    }
    m_table->resizeColumnsToContents();
    // The newest good backup is the likely choice.
    for (int row = 0; row < m_backups.size(); ++row) {
        if (m_backups[row].passed) {
            m_table->selectRow(row);
            break;
        }
    }
    if (m_backups.isEmpty())
        m_table->setToolTip(QStringLiteral("还没有备份：每次关闭程序时写入当天的备份。"));
}

void RestoreDialog::restoreSelected()
{
    if (restoreRow(m_table->currentRow()))
        accept();
}

bool RestoreDialog::restoreRow(int row)
{
    if (row < 0 || row >= m_backups.size() || !m_backups[row].passed)
        return false;
    const QString described = BackupRing::describe(m_backups[row].entry);
    if (!MessageBox::askYesNo(this, QStringLiteral("确定用备份 %1 替换当前的数据库吗？\n当前的数据库会改名"
                                                   "保留（名称中有“恢复前”和日期时间），不会删除。")
                                        .arg(described)))
        return false;

    QString keptAs;
    QString message;
    const bool restored = m_session.restoreFrom(m_backups[row].entry.path,
                                                DatabaseRestore::Reason::ReplacedByHand, &keptAs,
                                                &message);
    // Even a failed restore may have reopened the old file: the lists must
    // show what the database now holds.
    m_window.databaseReplaced();
    if (!restored) {
        MessageBox::warning(this, message);
        return false;
    }
    MessageBox::information(this, QStringLiteral("已用备份 %1 恢复数据库。\n原来的数据库保留为 %2。")
                                      .arg(described, QDir::toNativeSeparators(keptAs)));
    return true;
}
