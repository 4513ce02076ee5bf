#pragma once

#include "sending/sendlog.h"

#include <QAbstractTableModel>
#include <QDialog>

class QTabWidget;
class QTableView;
class QTableWidget;
class SendingHub;

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

// "发送记录": the batches newest first, the recipients of the chosen one with
// their state, time and 说明, and the messages the modems received.
class SendLogWindow : public QDialog
{
    Q_OBJECT

public:
    SendLogWindow(SendingHub &hub, QWidget *parent = nullptr);

    void reload();
    // The batch on the chosen row (0 when none).
    qint64 selectedBatch() const;
    void selectBatch(int row);

    void resendFailed();
    void continueSelected();
    void deleteSelected();
    void exportSelected();
    void addSelectedToOptOuts();

signals:
    void continueRequested(qint64 batch);

private:
    void showBatch();
    void showReceived();

    SendingHub &m_hub;
    QList<BatchSummary> m_batches;
    QTableWidget *m_batchTable = nullptr;
    SendRecordModel *m_records = nullptr;
    QTableView *m_recordView = nullptr;
    QTableWidget *m_receivedTable = nullptr;
    QTabWidget *m_tabs = nullptr;
};
