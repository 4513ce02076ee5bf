#include "sending/ui/sendlogwindow.h"

#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "exchange/csv/csvwriter.h"
#include "exchange/xlsx/xlsxwriter.h"
#include "sending/batchstarter.h"
#include "sending/sendingservice.h"

#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QStringList RecordHeadings = {QStringLiteral("手机号"), QStringLiteral("姓名"),
                                    QStringLiteral("状态"),   QStringLiteral("时间"),
                                    QStringLiteral("发送设备"), QStringLiteral("说明"),
                                    QStringLiteral("发送内容")};

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
        return record.deviceName.isEmpty() ? record.device : record.deviceName;
    case 5:
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

QString statusColumn(const BatchSummary &batch)
{
    QString word = BatchStatuses::text(batch.status);
    if (batch.status != BatchStatus::Scheduled)
        return word;
    return QStringLiteral("%1（%2）").arg(word, batch.scheduledAt.toString(QStringLiteral("MM-dd HH:mm")));
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

SendLogWindow::SendLogWindow(SendingService &service, BatchStarter &starter, QWidget *parent)
    : QDialog(parent)
    , m_service(service)
    , m_starter(starter)
{
    setObjectName(QStringLiteral("SendLogWindow"));
    setWindowTitle(QStringLiteral("发送记录"));
    resize(960, 600);
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
    const int widths[] = {110, 80, 80, 150, 140, 180};
    for (int column = 0; column < int(std::size(widths)); ++column)
        m_recordView->horizontalHeader()->resizeSection(column, widths[column]);
    m_tabs->addTab(sentPage, QStringLiteral("发出的短信"));

    m_receivedTable = new QTableWidget(0, 5, m_tabs);
    m_receivedTable->setObjectName(QStringLiteral("received"));
    m_receivedTable->setAccessibleName(QStringLiteral("收到的短信"));
    m_receivedTable->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("手机号"),
                                                QStringLiteral("姓名"), QStringLiteral("收到的设备"),
                                                QStringLiteral("内容")});
    m_receivedTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_receivedTable->horizontalHeader()->setStretchLastSection(true);
    m_tabs->addTab(m_receivedTable, QStringLiteral("收到的短信"));

    auto *buttons = new QHBoxLayout;
    QPushButton *resend = button(QStringLiteral("重发失败的(&R)"), QStringLiteral("重发失败的"), this);
    QPushButton *resume = button(QStringLiteral("继续(&G)"), QStringLiteral("继续"), this);
    QPushButton *reschedule = button(QStringLiteral("改定时(&I)"), QStringLiteral("改定时"), this);
    QPushButton *dropSchedule = button(QStringLiteral("取消定时(&X)"), QStringLiteral("取消定时"), this);
    QPushButton *remove = button(QStringLiteral("删除记录(&D)"), QStringLiteral("删除记录"), this);
    QPushButton *exportButton = button(QStringLiteral("导出(&E)"), QStringLiteral("导出"), this);
    QPushButton *optOut = button(QStringLiteral("加入退订名单(&T)"), QStringLiteral("加入退订名单"), this);
    QPushButton *close = button(QStringLiteral("关闭(&C)"), QStringLiteral("关闭"), this);
    resume->setToolTip(QStringLiteral("发送这批还没有发出的短信；定时的一批马上发送。"));
    for (QPushButton *pushButton : {resend, resume, reschedule, dropSchedule, remove, exportButton, optOut})
        buttons->addWidget(pushButton);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(m_batchTable, &QTableWidget::itemSelectionChanged, this, &SendLogWindow::showBatch);
    connect(resend, &QPushButton::clicked, this, &SendLogWindow::resendFailed);
    connect(resume, &QPushButton::clicked, this, &SendLogWindow::continueSelected);
    connect(reschedule, &QPushButton::clicked, this, &SendLogWindow::rescheduleSelected);
    connect(dropSchedule, &QPushButton::clicked, this, &SendLogWindow::dropScheduleOfSelected);
    connect(remove, &QPushButton::clicked, this, &SendLogWindow::deleteSelected);
    connect(exportButton, &QPushButton::clicked, this, &SendLogWindow::exportSelected);
    connect(optOut, &QPushButton::clicked, this, &SendLogWindow::addSelectedToOptOuts);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(&service, &SendingService::logChanged, this, &SendLogWindow::reload);
    reload();
}

void SendLogWindow::reload()
{
    const qint64 selected = selectedBatch();
    QString error;
    if (m_service.log().batches(&m_batches, &error) != LogResult::Ok)
        MessageBox::warning(this, error);
    const QSignalBlocker blocker(m_batchTable);
    m_batchTable->setRowCount(int(m_batches.size()));
    int selectRow = m_batches.isEmpty() ? -1 : 0;
    for (int row = 0; row < m_batches.size(); ++row) {
        const BatchSummary &batch = m_batches.at(row);
        const QStringList cells = {batch.time,
                                   batch.settings.deviceName.isEmpty()
                                       ? BatchSettings::channelText(batch.settings.channel)
                                       : batch.settings.deviceName,
                                   statusColumn(batch),
                                   QString::number(batch.total()),
                                   QString::number(batch.sent()),
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
    const BatchSummary *batch = selectedSummary();
    return batch ? batch->id : 0;
}

const BatchSummary *SendLogWindow::selectedSummary() const
{
    const int row = m_batchTable->currentRow();
    return row >= 0 && row < m_batches.size() ? &m_batches.at(row) : nullptr;
}

void SendLogWindow::selectBatch(int row)
{
    m_batchTable->selectRow(row);
}

void SendLogWindow::showBatch()
{
    QList<SendRecord> records;
    QString error;
    if (const qint64 batch = selectedBatch();
        batch > 0 && m_service.log().records(batch, {}, &records, &error) != LogResult::Ok)
        MessageBox::warning(this, error);
    m_records->setRecords(std::move(records));
}

void SendLogWindow::showReceived()
{
    QList<ReceivedMessage> messages;
    QString error;
    if (m_service.inbox().messages(&messages, &error) != LogResult::Ok)
        MessageBox::warning(this, error);
    m_receivedTable->setRowCount(int(messages.size()));
    for (int row = 0; row < messages.size(); ++row) {
        const ReceivedMessage &message = messages.at(row);
        const QStringList cells = {message.time, message.mobile, message.name, message.deviceName,
                                   message.text};
        for (int column = 0; column < cells.size(); ++column)
            m_receivedTable->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    }
    m_receivedTable->resizeColumnsToContents();
}

void SendLogWindow::started(const QString &error, BatchRunner *runner)
{
    reload();
    if (!error.isEmpty())
        MessageBox::warning(this, error);
    else if (runner)
        emit batchStarted(runner);
    else
        MessageBox::information(this, QStringLiteral("这批短信排在正在发送的那一批之后，等它发完就开始。"));
}

void SendLogWindow::resendFailed()
{
    const BatchSummary *batch = selectedSummary();
    if (!batch)
        return;
    const int unconfirmed = batch->count(RecordState::Unconfirmed);
    const bool withUnconfirmed =
        unconfirmed > 0
        && MessageBox::askYesNo(this, QStringLiteral("有 %1 人的短信未确认是否发出，重发可能让他们收到两条。"
                                                     "是否也重发给他们？")
                                          .arg(unconfirmed));
    if (batch->count(RecordState::Failed) == 0 && !withUnconfirmed) {
        MessageBox::information(this, QStringLiteral("这次发送没有失败的收信人。"));
        return;
    }
    m_starter.resend(batch->id, withUnconfirmed,
                     [guard = QPointer<SendLogWindow>(this)](const BatchStarter::Outcome &outcome) {
                         if (guard && !outcome.cancelled)
                             guard->started(outcome.error, outcome.runner);
                     });
}

void SendLogWindow::continueSelected()
{
    const BatchSummary *batch = selectedSummary();
    if (!batch)
        return;
    if (batch->count(RecordState::Waiting) == 0) {
        MessageBox::information(this, QStringLiteral("这批短信已经没有等待发送的收信人了。"));
        return;
    }
    m_starter.continueBatch(batch->id,
                            [guard = QPointer<SendLogWindow>(this)](const BatchStarter::Outcome &outcome) {
                                if (guard)
                                    guard->started(outcome.error, outcome.runner);
                            });
}

void SendLogWindow::rescheduleSelected()
{
    const BatchSummary *batch = selectedSummary();
    if (!batch || batch->status != BatchStatus::Scheduled) {
        MessageBox::information(this, QStringLiteral("请先选中一批定时发送的短信。"));
        return;
    }
    QDialog ask(this);
    ask.setWindowTitle(QStringLiteral("改定时"));
    auto *layout = new QVBoxLayout(&ask);
    layout->addWidget(new QLabel(QStringLiteral("新的发送时间："), &ask));
    auto *edit = new QDateTimeEdit(batch->scheduledAt, &ask);
    edit->setObjectName(QStringLiteral("定时"));
    edit->setAccessibleName(QStringLiteral("新的发送时间"));
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    edit->setCalendarPopup(true);
    layout->addWidget(edit);
    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &ask);
    connect(box, &QDialogButtonBox::accepted, &ask, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    layout->addWidget(box);
    if (ask.exec() != QDialog::Accepted)
        return;
    if (edit->dateTime() <= m_service.clock()()) {
        MessageBox::warning(this, QStringLiteral("这个时间已经过了，请选以后的时间；要马上发送请按“继续”。"));
        return;
    }
    QString error;
    if (m_service.log().setSchedule(batch->id, edit->dateTime(), &error) != LogResult::Ok)
        MessageBox::warning(this, error);
    m_service.scheduleChanged();
    reload();
}

void SendLogWindow::dropScheduleOfSelected()
{
    const BatchSummary *batch = selectedSummary();
    if (!batch || batch->status != BatchStatus::Scheduled) {
        MessageBox::information(this, QStringLiteral("请先选中一批定时发送的短信。"));
        return;
    }
    if (!MessageBox::askYesNo(this, QStringLiteral("取消这批定时发送吗？记录会留着，以后仍可按“继续”发送。")))
        return;
    QString error;
    if (m_service.log().setStatus(batch->id, BatchStatus::Dropped, &error) != LogResult::Ok)
        MessageBox::warning(this, error);
    m_service.scheduleChanged();
    reload();
}

void SendLogWindow::deleteSelected()
{
    const qint64 batch = selectedBatch();
    if (batch <= 0)
        return;
    if (m_service.runner() && m_service.runner()->batch() == batch && m_service.isSending()) {
        MessageBox::information(this, QStringLiteral("这批短信正在发送，请先停止。"));
        return;
    }
    if (!MessageBox::askYesNo(this, QStringLiteral("删除这次发送的全部记录吗？")))
        return;
    QString error;
    if (m_service.log().deleteBatch(batch, &error) != LogResult::Ok)
        MessageBox::warning(this, error);
    m_service.scheduleChanged();
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
            RecordHeadings, {13, 10, 8, 20, 18, 30, 60}, recordRows(records), &error);
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
    if (m_service.optOuts().add(mobiles, QStringLiteral("发送记录"), m_service.clock()(), &added, &error)
        != LogResult::Ok) {
        MessageBox::warning(this, error);
        return;
    }
    MessageBox::information(this, QStringLiteral("已把 %1 个号码加入退订名单。").arg(added));
}
