#include "followup/ui/duelistdialog.h"

#include "desktop/messagebox.h"
#include "followup/ui/duelistmodel.h"
#include "followup/ui/recordtables.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

DueListDialog::DueListDialog(FollowUpStore &store, RecordEditor::Clock clock, QWidget *parent)
    : QDialog(parent)
    , m_store(store)
    , m_clock(std::move(clock))
    , m_model(new DueListModel(this))
{
    setObjectName(QStringLiteral("dueListWindow"));
    setWindowTitle(QStringLiteral("待回访名单"));
    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("count"));

    m_table = RecordTables::table(this, QStringLiteral("dueList"), QStringLiteral("待回访名单"),
                                  m_model);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(DueListModel::LastTimeColumn, 150);
    // A double click, or Enter: "activated" comes once for either (a double
    // click also emits doubleClicked, which would locate twice).
    connect(m_table, &QTableView::activated, this, [this](const QModelIndex &index) {
        emit locateRequested(m_model->at(index.row()));
    });

    auto *buttons = new QHBoxLayout;
    const auto addButton = [this, buttons](const char *name, const QString &caption) {
        return RecordTables::button(buttons, this, name, caption);
    };
    connect(addButton("history", QStringLiteral("回访记录(&R)…")), &QPushButton::clicked, this,
            [this] { requestForSelected(&DueListDialog::historyRequested); });
    connect(addButton("call", QStringLiteral("拨打电话(&D)")), &QPushButton::clicked, this,
            [this] { requestForSelected(&DueListDialog::callRequested); });
    connect(addButton("showInMainWindow", QStringLiteral("显示到主窗口(&M)")),
            &QPushButton::clicked, this, [this] {
                if (m_model->entries().isEmpty()) {
                    MessageBox::information(this, QStringLiteral("今天没有待回访的人。"));
                    return;
                }
                emit showInMainWindow(asWorkingList(m_model->entries()));
            });
    connect(addButton("refresh", QStringLiteral("刷新(&F)")), &QPushButton::clicked, this,
            &DueListDialog::reload);
    buttons->addStretch();
    connect(addButton("close", QStringLiteral("关闭")), &QPushButton::clicked, this,
            &QDialog::close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_count);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
    resize(760, 480);
}

void DueListDialog::showList()
{
    reload();
    show();
    raise();
    activateWindow();
}

void DueListDialog::reload()
{
    const QDate today = m_clock().date();
    QVector<DueEntry> entries;
    QString error;
    if (m_store.dueList(today, &entries, &error) != StoreResult::Ok)
        MessageBox::warning(this, QStringLiteral("读取待回访名单失败：%1").arg(error));
    m_model->replaceAll(std::move(entries));
    m_count->setText(QStringLiteral("截至 %1 待回访：%2 人")
                         .arg(FollowUpRules::dateText(today))
                         .arg(m_model->rowCount()));
    if (m_model->rowCount() > 0)
        m_table->selectRow(0);
}

const DueEntry *DueListDialog::selectedEntry() const
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    return rows.isEmpty() ? nullptr : &m_model->at(rows.first().row());
}

void DueListDialog::requestForSelected(void (DueListDialog::*signal)(const QString &))
{
    if (const DueEntry *entry = selectedEntry())
        emit(this->*signal)(entry->mobile);
}

ContactList DueListDialog::asWorkingList(const QVector<DueEntry> &entries)
{
    ContactList contacts;
    contacts.reserve(entries.size());
    qint64 id = 0;
    for (const DueEntry &entry : entries)
        contacts.append(Contact(entry.mobile, entry.name, entry.salutation, entry.remark, --id));
    return contacts;
}
