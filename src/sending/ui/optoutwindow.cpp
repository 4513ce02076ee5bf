#include "sending/ui/optoutwindow.h"

#include "desktop/messagebox.h"
#include "sending/batchrecipients.h"
#include "sending/sendingservice.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

OptOutWindow::OptOutWindow(SendingService &service, QWidget *parent)
    : QDialog(parent)
    , m_service(service)
{
    setObjectName(QStringLiteral("OptOutWindow"));
    setWindowTitle(QStringLiteral("退订名单"));
    resize(520, 480);
    auto *layout = new QVBoxLayout(this);
    m_table = new QTableWidget(0, 3, this);
    m_table->setObjectName(QStringLiteral("optOuts"));
    m_table->setAccessibleName(QStringLiteral("退订名单"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("手机号"), QStringLiteral("时间"), QStringLiteral("来源")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table);
    layout->addWidget(new QLabel(QStringLiteral("加入号码（每行一个，可粘贴）："), this));
    m_input = new QPlainTextEdit(this);
    m_input->setObjectName(QStringLiteral("newNumbers"));
    m_input->setAccessibleName(QStringLiteral("要加入的号码"));
    m_input->setTabChangesFocus(true);
    m_input->setFixedHeight(90);
    layout->addWidget(m_input);
    auto *buttons = new QHBoxLayout;
    auto *add = new QPushButton(QStringLiteral("加入(&A)"), this);
    add->setObjectName(QStringLiteral("加入"));
    auto *remove = new QPushButton(QStringLiteral("移出所选(&R)"), this);
    remove->setObjectName(QStringLiteral("移出所选"));
    auto *close = new QPushButton(QStringLiteral("关闭(&C)"), this);
    close->setObjectName(QStringLiteral("关闭"));
    for (QPushButton *button : {add, remove, close}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    connect(add, &QPushButton::clicked, this, &OptOutWindow::addTyped);
    connect(remove, &QPushButton::clicked, this, &OptOutWindow::removeSelected);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(&service, &SendingService::logChanged, this, &OptOutWindow::reload);
    reload();
}

void OptOutWindow::reload()
{
    QList<OptOut> list;
    QString error;
    if (m_service.optOuts().entries(&list, &error) != LogResult::Ok)
        MessageBox::warning(this, error);
    m_table->setRowCount(int(list.size()));
    for (int row = 0; row < list.size(); ++row) {
        const OptOut &entry = list.at(row);
        const QStringList cells = {entry.mobile, entry.time, entry.source};
        for (int column = 0; column < cells.size(); ++column)
            m_table->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    }
    m_table->resizeColumnsToContents();
}

void OptOutWindow::addTyped()
{
    QStringList mobiles;
    QStringList rejected;
    const QStringList lines = m_input->toPlainText().split(u'\n');
    for (const QString &line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty())
            continue;
        const QString mobile = localMobile(trimmed);
        if (isSendableMobile(mobile))
            mobiles.append(mobile);
        else
            rejected.append(trimmed);
    }
    int added = 0;
    QString error;
    if (!mobiles.isEmpty()
        && m_service.optOuts().add(mobiles, QStringLiteral("手工加入"), m_service.clock()(), &added,
                                   &error)
               != LogResult::Ok) {
        MessageBox::warning(this, error);
        return;
    }
    // What could not be taken stays in the box to be corrected.
    m_input->setPlainText(rejected.join(u'\n'));
    reload();
    if (!rejected.isEmpty())
        MessageBox::information(this, QStringLiteral("已加入 %1 个号码；%2 行不是 11 位手机号，没有加入：%3")
                                          .arg(added)
                                          .arg(rejected.size())
                                          .arg(rejected.join(u'、')));
}

void OptOutWindow::removeSelected()
{
    QStringList mobiles;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        mobiles.append(m_table->item(index.row(), 0)->text());
    if (mobiles.isEmpty())
        return;
    QString error;
    if (m_service.optOuts().remove(mobiles, &error) != LogResult::Ok)
        MessageBox::warning(this, error);
    reload();
}
