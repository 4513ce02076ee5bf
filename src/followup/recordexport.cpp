#include "followup/recordexport.h"

#include "exchange/xlsx/xlsxwriter.h"
#include "followup/followupstore.h"
#include "storage/database.h"

#include <QSaveFile>

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

// RFC 4180: a field with a separator, a quote or a line break goes in quotes,
// its quotes doubled.
void appendCsvField(QString &line, const QString &field)
{
    static const QString special = QStringLiteral(",\"\r\n");
    if (std::none_of(field.begin(), field.end(), [](QChar c) { return special.contains(c); })) {
        line += field;
        return;
    }
    line += u'"';
    line += QString(field).replace(u'"', QStringLiteral("\"\""));
    line += u'"';
}

QByteArray csvLine(const QStringList &fields)
{
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += u',';
        appendCsvField(line, fields.at(i));
    }
    line += QStringLiteral("\r\n");
    return line.toUtf8();
}

// UTF-8 with a byte order mark, so that spreadsheets read the Chinese right.
bool writeCsv(FollowUpStore &store, const QString &path, const Progress &progress,
              QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const auto put = [&file](const QByteArray &bytes) {
        return file.write(bytes) == bytes.size();
    };
    QString readError;
    bool ok = put(QByteArrayLiteral("\xEF\xBB\xBF")) && put(csvLine(heading()));
    ok = ok && produceRows(store, [&](const QStringList &row) { return put(csvLine(row)); },
                           progress, &readError);
    if (!ok) {
        *error = readError.isEmpty() ? file.errorString() : readError;
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace

bool write(FollowUpStore &store, const QString &path, Format format, QString *error,
           const Progress &progress)
{
    QString reason;
    const bool written =
        format == Format::Csv
            ? writeCsv(store, path, progress, &reason)
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
                   QString *error, const Progress &progress)
{
    Database database;
    if (database.open(databasePath, Database::Access::ReadOnly, error) != Database::OpenResult::Ok)
        return false;
    FollowUpStore store(database);
    return write(store, path, format, error, progress);
}

} // namespace RecordExport
