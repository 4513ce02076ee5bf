#pragma once

#include "sending/log/batchlog.h"

#include <QAbstractTableModel>
#include <QDialog>

class BatchRunner;
class BatchStarter;
class QTabWidget;
class QTableView;
class QTableWidget;
class SendingService;

// The recipients of one batch, for the log window (a batch may hold
// 100,000 of them: a model, not a table of items).
class SendRecordModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRecords(QList<SendRecord> records);
    const QList<SendRecord> &records() const { return m_records; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QList<SendRecord> m_records;
};

// "发送记录": the batches newest first (those waiting for their time too),
// the recipients of the chosen one with their state, time, device and 说明,
// and the messages the modems and phones received. A batch is continued,
// its failed recipients sent again, its time changed or dropped, deleted,
// exported, or its numbers put on the opt-out list from here.
class SendLogWindow : public QDialog
{
    Q_OBJECT

public:
    SendLogWindow(SendingService &service, BatchStarter &starter, QWidget *parent = nullptr);

    void reload();
    // The batch on the chosen row (0 when none).
    qint64 selectedBatch() const;
    void selectBatch(int row);

    void resendFailed();
    void continueSelected();
    void rescheduleSelected();
    void dropScheduleOfSelected();
    void deleteSelected();
    void exportSelected();
    void addSelectedToOptOuts();

signals:
    // A batch was set going from here: the send dialog shows it.
    void batchStarted(BatchRunner *runner);

private:
    void showBatch();
    void showReceived();
    const BatchSummary *selectedSummary() const;
    void started(const QString &error, BatchRunner *runner);

    SendingService &m_service;
    BatchStarter &m_starter;
    QList<BatchSummary> m_batches;
    QTableWidget *m_batchTable = nullptr;
    SendRecordModel *m_records = nullptr;
    QTableView *m_recordView = nullptr;
    QTableWidget *m_receivedTable = nullptr;
    QTabWidget *m_tabs = nullptr;
};
