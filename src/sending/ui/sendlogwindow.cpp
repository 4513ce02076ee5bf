#include "sending/ui/sendlogwindow.h"

#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "exchange/csv/csvwriter.h"
#include "exchange/xlsx/xlsxwriter.h"
#include "sending/sendinghub.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSet>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QStringList RecordHeadings = {QStringLiteral("手机号"), QStringLiteral("姓名"),
                                    QStringLiteral("状态"),   QStringLiteral("时间"),
                                    QStringLiteral("说明"),   QStringLiteral("发送内容")};

QString recordColumn(const SendRecord &record, int column)
{
    switch (column) {
    case 0:
        return record.mobile;
    case 1:
        return record.name;
    case 2:
        return RecordStates::text(record.state);
    case 3:
        return record.time;
    case 4:
        return record.note;
    default:
        return record.text;
    }
}

// Every record, its columns as the window shows them.
RowProducer recordRows(const QList<SendRecord> &records)
{
    return [&records](const RowSink &sink, QString *) {
        for (const SendRecord &record : records) {
            QStringList row;
            for (int column = 0; column < RecordHeadings.size(); ++column)
                row.append(recordColumn(record, column));
            if (!sink(row))
                return false;
        }
        return true;
    };
}

QPushButton *button(const QString &caption, const QString &name, QWidget *parent)
{
    auto *pushButton = new QPushButton(caption, parent);
    pushButton->setObjectName(name);
    pushButton->setAutoDefault(false);
    return pushButton;
}

} // namespace

void SendRecordModel::setRecords(QList<SendRecord> records)
{
    beginResetModel();
    m_records = std::move(records);
    endResetModel();
}

int SendRecordModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_records.size());
}

int SendRecordModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(RecordHeadings.size());
}

QVariant SendRecordModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return QVariant();
    return recordColumn(m_records.at(index.row()), index.column());
}

QVariant SendRecordModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    return orientation == Qt::Horizontal ? QVariant(RecordHeadings.value(section))
                                         : QVariant(section + 1);
}

SendLogWindow::SendLogWindow(SendingHub &hub, QWidget *parent)
    : QDialog(parent)
    , m_hub(hub)
{
    setObjectName(QStringLiteral("SendLogWindow"));
    setWindowTitle(QStringLiteral("发送记录"));
    resize(900, 600);
    auto *layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    layout->addWidget(m_tabs);

    auto *sentPage = new QSplitter(Qt::Vertical, m_tabs);
    m_batchTable = new QTableWidget(0, 7, sentPage);
    m_batchTable->setObjectName(QStringLiteral("batches"));
    m_batchTable->setAccessibleName(QStringLiteral("发送批次"));
    m_batchTable->setHorizontalHeaderLabels(
        {QStringLiteral("时间"), QStringLiteral("发送方式"), QStringLiteral("状态"),
         QStringLiteral("人数"), QStringLiteral("已发送"), QStringLiteral("失败"),
         QStringLiteral("短信内容")});
    m_batchTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_batchTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_batchTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_batchTable->horizontalHeader()->setStretchLastSection(true);
    m_records = new SendRecordModel(this);
    m_recordView = new QTableView(sentPage);
    m_recordView->setObjectName(QStringLiteral("records"));
    m_recordView->setAccessibleName(QStringLiteral("收信人"));
    m_recordView->setModel(m_records);
    m_recordView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_recordView->horizontalHeader()->setStretchLastSection(true);
    m_recordView->verticalHeader()->setDefaultSectionSize(m_recordView->fontMetrics().height() + 8);
    // Fixed widths: measuring 100,000 rows would hold the window up.
    const int widths[] = {110, 80, 80, 150, 180};
    for (int column = 0; column < int(std::size(widths)); ++column)
        m_recordView->horizontalHeader()->resizeSection(column, widths[column]);
    m_tabs->addTab(sentPage, QStringLiteral("发出的短信"));

    m_receivedTable = new QTableWidget(0, 4, m_tabs);
    m_receivedTable->setObjectName(QStringLiteral("received"));
    m_receivedTable->setAccessibleName(QStringLiteral("收到的短信"));
    m_receivedTable->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("手机号"),
                                                QStringLiteral("姓名"), QStringLiteral("内容")});
    m_receivedTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_receivedTable->horizontalHeader()->setStretchLastSection(true);
    m_tabs->addTab(m_receivedTable, QStringLiteral("收到的短信"));

    auto *buttons = new QHBoxLayout;
    QPushButton *resend = button(QStringLiteral("重发失败的(&R)"), QStringLiteral("重发失败的"), this);
    QPushButton *resume = button(QStringLiteral("继续(&G)"), QStringLiteral("继续"), this);
    QPushButton *remove = button(QStringLiteral("删除记录(&D)"), QStringLiteral("删除记录"), this);
    QPushButton *exportButton = button(QStringLiteral("导出(&E)"), QStringLiteral("导出"), this);
    QPushButton *optOut = button(QStringLiteral("加入退订名单(&T)"), QStringLiteral("加入退订名单"), this);
    QPushButton *close = button(QStringLiteral("关闭(&C)"), QStringLiteral("关闭"), this);
    for (QPushButton *pushButton : {resend, resume, remove, exportButton, optOut})
        buttons->addWidget(pushButton);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(m_batchTable, &QTableWidget::itemSelectionChanged, this, &SendLogWindow::showBatch);
    connect(resend, &QPushButton::clicked, this, &SendLogWindow::resendFailed);
    connect(resume, &QPushButton::clicked, this, &SendLogWindow::continueSelected);
    connect(remove, &QPushButton::clicked, this, &SendLogWindow::deleteSelected);
    connect(exportButton, &QPushButton::clicked, this, &SendLogWindow::exportSelected);
    connect(optOut, &QPushButton::clicked, this, &SendLogWindow::addSelectedToOptOuts);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(&hub, &SendingHub::logChanged, this, &SendLogWindow::reload);
    reload();
}

void SendLogWindow::reload()
{
    const qint64 selected = selectedBatch();
    QString error;
    if (!m_hub.log().batches(&m_batches, &error))
        MessageBox::warning(this, error);
    const QSignalBlocker blocker(m_batchTable);
    m_batchTable->setRowCount(int(m_batches.size()));
    int selectRow = m_batches.isEmpty() ? -1 : 0;
    for (int row = 0; row < m_batches.size(); ++row) {
        const BatchSummary &batch = m_batches.at(row);
        const int sent = batch.count(RecordState::Sent) + batch.count(RecordState::Delivered)
                         + batch.count(RecordState::DeliveryFailed)
                         + batch.count(RecordState::HandedToPhone);
        const QStringList cells = {batch.time,
                                   batch.settings.deviceName.isEmpty()
                                       ? BatchSettings::channelText(batch.settings.channel)
                                       : batch.settings.deviceName,
                                   batch.status,
                                   QString::number(batch.total()),
                                   QString::number(sent),
                                   QString::number(batch.count(RecordState::Failed)),
                                   batch.settings.text};
        for (int column = 0; column < cells.size(); ++column)
            m_batchTable->setItem(row, column, new QTableWidgetItem(cells.at(column)));
        if (batch.id == selected)
            selectRow = row;
    }
    m_batchTable->resizeColumnsToContents();
    m_batchTable->resizeRowsToContents();
    if (selectRow >= 0)
        m_batchTable->selectRow(selectRow);
    showBatch();
    showReceived();
}

qint64 SendLogWindow::selectedBatch() const
{
    const int row = m_batchTable->currentRow();
    return row >= 0 && row < m_batches.size() ? m_batches.at(row).id : 0;
}

void SendLogWindow::selectBatch(int row)
{
    m_batchTable->selectRow(row);
}

void SendLogWindow::showBatch()
{
    QList<SendRecord> records;
    QString error;
    if (const qint64 batch = selectedBatch(); batch > 0 && !m_hub.log().records(batch, &records, &error))
        MessageBox::warning(this, error);
    m_records->setRecords(std::move(records));
}

void SendLogWindow::showReceived()
{
    QList<ReceivedMessage> messages;
    QString error;
    if (!m_hub.log().received(&messages, &error))
        MessageBox::warning(this, error);
    m_receivedTable->setRowCount(int(messages.size()));
    for (int row = 0; row < messages.size(); ++row) {
        const ReceivedMessage &message = messages.at(row);
        const QStringList cells = {message.time, message.mobile, message.name, message.text};
        for (int column = 0; column < cells.size(); ++column)
            m_receivedTable->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    }
    m_receivedTable->resizeColumnsToContents();
}

void SendLogWindow::resendFailed()
{
    const qint64 batch = selectedBatch();
    if (batch <= 0)
        return;
    QList<RecordState> states{RecordState::Failed};
    BatchSummary summary;
    QString error;
    if (!m_hub.log().batch(batch, &summary, &error)) {
        MessageBox::warning(this, error);
        return;
    }
    if (const int unconfirmed = summary.count(RecordState::Unconfirmed); unconfirmed > 0
        && MessageBox::askYesNo(this, QStringLiteral("有 %1 人的短信未确认是否发出，重发可能让他们收到两条。"
                                                     "是否也重发给他们？")
                                          .arg(unconfirmed)))
        states.append(RecordState::Unconfirmed);
    QList<SendRecord> records;
    if (!m_hub.log().recordsInState(batch, states, &records, &error)) {
        MessageBox::warning(this, error);
        return;
    }
    if (records.isEmpty()) {
        MessageBox::information(this, QStringLiteral("这次发送没有失败的收信人。"));
        return;
    }
    QSet<QString> optOuts;
    m_hub.log().optOutNumbers(&optOuts, nullptr);
    QList<BatchRecipient> recipients;
    for (const SendRecord &record : std::as_const(records)) {
        if (!optOuts.contains(record.mobile))
            recipients.append({record.mobile, record.name, record.text});
    }
    if (recipients.isEmpty()) {
        MessageBox::information(this, QStringLiteral("失败的收信人都已在退订名单上，没有可以重发的。"));
        return;
    }
    qint64 created = 0;
    if (m_hub.log().createBatch(summary.settings, recipients, m_hub.clock()(), &created, &error)
        != LogWrite::Written) {
        MessageBox::warning(this, error);
        return;
    }
    // Waits in the log until the send dialog starts it.
    m_hub.log().setBatchStatus(created, SendLog::paused(), nullptr);
    reload();
    emit continueRequested(created);
}

void SendLogWindow::continueSelected()
{
    if (const qint64 batch = selectedBatch(); batch > 0)
        emit continueRequested(batch);
}

void SendLogWindow::deleteSelected()
{
    const qint64 batch = selectedBatch();
    if (batch <= 0)
        return;
    if (m_hub.runner() && m_hub.runner()->batch() == batch && m_hub.isSending()) {
        MessageBox::information(this, QStringLiteral("这批短信正在发送，请先停止。"));
        return;
    }
    if (!MessageBox::askYesNo(this, QStringLiteral("删除这次发送的全部记录吗？")))
        return;
    QString error;
    if (m_hub.log().deleteBatch(batch, &error) != LogWrite::Written)
        MessageBox::warning(this, error);
    reload();
}

void SendLogWindow::exportSelected()
{
    const QList<SendRecord> &records = m_records->records();
    if (records.isEmpty())
        return;
    QString filter;
    const QString path = FileDialog::saveFileName(
        this, QStringLiteral("导出发送记录"), QString(),
        QStringLiteral("Excel 工作簿 (*.xlsx);;CSV 文件 (*.csv)"), &filter);
    if (path.isEmpty())
        return;
    QString error;
    bool written = false;
    if (filter.contains(QLatin1String("csv")) || path.endsWith(QLatin1String(".csv"))) {
        written = writeCsvTable(path, RecordHeadings, recordRows(records), &error);
    } else {
        written = writeXlsxTable(
            path.endsWith(QLatin1String(".xlsx")) ? path : path + QStringLiteral(".xlsx"),
            RecordHeadings, {13, 10, 8, 20, 30, 60}, recordRows(records), &error);
    }
    if (written)
        MessageBox::information(this, QStringLiteral("文件导出成功！"));
    else
        MessageBox::warning(this, error);
}

void SendLogWindow::addSelectedToOptOuts()
{
    QStringList mobiles;
    for (const QModelIndex &index : m_recordView->selectionModel()->selectedRows())
        mobiles.append(m_records->records().at(index.row()).mobile);
    if (mobiles.isEmpty())
        return;
    QString error;
    int added = 0;
    if (m_hub.log().addOptOuts(mobiles, QStringLiteral("发送记录"), m_hub.clock()(), &added, &error)
        != LogWrite::Written) {
        MessageBox::warning(this, error);
        return;
    }
    MessageBox::information(this, QStringLiteral("已把 %1 个号码加入退订名单。").arg(added));
}
