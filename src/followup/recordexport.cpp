#include "followup/recordexport.h"

#include "exchange/csv/csvwriter.h"
#include "exchange/xlsx/xlsxwriter.h"
#include "followup/followupstore.h"
#include "storage/database.h"

namespace RecordExport {

namespace {

QStringList heading()
{
    return {QStringLiteral("手机号"), QStringLiteral("姓名"), QStringLiteral("分组"),
            QStringLiteral("时间"),   QStringLiteral("方式"), QStringLiteral("结果"),
            QStringLiteral("内容"),   QStringLiteral("下次回访")};
}

QStringList cells(const ExportRow &row)
{
    const FollowUpRecord &record = row.record;
    return {record.mobile, row.name,       row.groups,         record.time,
            record.method, record.result,  record.content,     record.nextDate};
}

constexpr qsizetype ProgressEvery = 4096;

// Every record through sink, in the store's order.
bool produceRows(FollowUpStore &store, const RowSink &sink, const Progress &progress,
                 QString *error)
{
    bool sinkFull = false;
    bool cancelled = false;
    qsizetype written = 0;
    const StoreResult read = store.forEachRecord(
        [&](const ExportRow &row) {
            sinkFull = !sink(cells(row));
            if (!sinkFull && ++written % ProgressEvery == 0 && progress)
                cancelled = !progress(written);
            return !sinkFull && !cancelled;
        },
        error);
    if (read != StoreResult::Ok) {
        if (error)
            *error = QStringLiteral("读取回访记录失败：%1").arg(*error);
        return false;
    }
    if (cancelled && error)
        *error = QStringLiteral("导出已取消");
    return !sinkFull && !cancelled;
}

} // namespace

bool write(FollowUpStore &store, const QString &path, Format format, const Progress &progress,
           QString *error)
{
    QString reason;
    const bool written =
        format == Format::Csv
            ? writeCsvTable(
                  path, heading(),
                  [&store, &progress](const RowSink &sink, QString *producerError) {
                      return produceRows(store, sink, progress, producerError);
                  },
                  &reason)
            : writeXlsxTable(
                  path, heading(), {13, 10, 16, 20, 6, 10, 40, 12},
                  [&store, &progress](const RowSink &sink, QString *producerError) {
                      return produceRows(store, sink, progress, producerError);
                  },
                  &reason);
    if (!written && error)
        *error = reason;
    return written;
}

bool writeFromFile(const QString &databasePath, const QString &path, Format format,
                   const Progress &progress, QString *error)
{
    Database database;
    if (database.open(databasePath, Database::Access::ReadOnly, error) != Database::OpenResult::Ok)
        return false;
    FollowUpStore store(database);
    return write(store, path, format, progress, error);
}

} // namespace RecordExport
