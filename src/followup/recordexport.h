#pragma once

#include <QString>

class FollowUpStore;

// Writes every follow-up record, with the person and the groups that hold
// the number, to a workbook or a CSV file: complete, or not at all (an older
// file of that name is kept). Columns: 手机号, 姓名, 分组, 时间, 方式, 结果,
// 内容, 下次回访, below a heading row.
namespace RecordExport {

enum class Format { Xlsx, Csv };

bool write(FollowUpStore &store, const QString &path, Format format, QString *error);

} // namespace RecordExport
