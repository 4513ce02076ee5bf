#pragma once

#include <QString>

#include <functional>

class FollowUpStore;

// Writes every follow-up record, with the person and the groups that hold
// the number, to a workbook or a CSV file: complete, or not at all (an older
// file of that name is kept). Columns: 手机号, 姓名, 分组, 时间, 方式, 结果,
// 内容, 下次回访, below a heading row.
namespace RecordExport {

enum class Format { Xlsx, Csv };

// Told how many records are written so far, every few thousand; false
// cancels the export (nothing is written then).
using Progress = std::function<bool(qsizetype written)>;

// progress may be empty.
bool write(FollowUpStore &store, const QString &path, Format format, const Progress &progress,
           QString *error);

// The same through a read-only connection of its own to the database file,
// so that it can run on a worker thread while the program goes on.
bool writeFromFile(const QString &databasePath, const QString &path, Format format,
                   const Progress &progress, QString *error);

} // namespace RecordExport
