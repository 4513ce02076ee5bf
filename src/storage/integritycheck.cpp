#include "storage/integritycheck.h"

#include "storage/database.h"
#include "storage/statement.h"

#include <QFileInfo>
#include <QStringList>

namespace IntegrityCheck {

namespace {

// The one number the query answers; -1 when it fails, with the reason in
// failure (the first failure's reason, when several run in turn).
qint64 countRows(Database &database, const char *sql, QString *failure)
{
    Statement statement(database.handle(), sql);
    QString reason;
    if (statement.step(&reason) != SQLITE_ROW) {
        if (failure->isEmpty())
            *failure = reason;
        return -1;
    }
    return statement.int64(0);
}

} // namespace

bool check(const QString &path, QString *error)
{
    return check(path, nullptr, error);
}

bool check(const QString &path, Counts *counts, QString *error)
{
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    Database database;
    QString openError;
    const Database::OpenResult opened =
        database.open(path, Database::Access::ReadOnly, &openError);
    if (opened != Database::OpenResult::Ok) {
        switch (opened) {
        case Database::OpenResult::NotADatabase:
            return fail(QStringLiteral("无法用本程序的密码读取"));
        case Database::OpenResult::WrongSchema:
            return fail(QStringLiteral("缺少本程序的表或列"));
        default:
            return fail(openError);
        }
    }
    // quick_check reads every page of every table and index (each page's
    // authentication code is verified as it is decrypted) and checks the
    // tree structure; it answers one row "ok" or the problems found.
    {
        Statement quickCheck(database.handle(), "PRAGMA quick_check(1)");
        QString reason;
        if (quickCheck.step(&reason) != SQLITE_ROW)
            return fail(reason);
        const QString answer = quickCheck.text(0);
        if (answer != QLatin1String("ok")) {
            // "*** in database main ***\nPage 5: ..." -> "Page 5: ..."
            QStringList lines = answer.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            lines.removeIf([](const QString &line) { return line.startsWith(QLatin1String("***")); });
            return fail(QStringLiteral("数据页有错：%1").arg(lines.join(QStringLiteral("；"))));
        }
    }
    {
        // Pages past the last one (a file padded, or grown by a stray
        // write) are read by no check, yet every copy would carry them.
        QString failure;
        const qint64 pages = countRows(database, "PRAGMA page_count", &failure);
        const qint64 pageSize = countRows(database, "PRAGMA page_size", &failure);
        const qint64 fileSize = QFileInfo(path).size();
        if (pages < 0 || pageSize < 0)
            return fail(failure);
        if (pages * pageSize != fileSize)
            return fail(QStringLiteral("文件大小（%1 字节）与其中的数据页（%2 页，每页 %3 字节）不符")
                            .arg(fileSize)
                            .arg(pages)
                            .arg(pageSize));
    }
    if (counts) {
        QString failure;
        const qint64 groups = countRows(database, "SELECT count(*) FROM [分组]", &failure);
        const qint64 contacts = countRows(database, "SELECT count(*) FROM [通讯录]", &failure);
        if (groups < 0 || contacts < 0)
            return fail(failure);
        *counts = {groups, contacts};
    }
    return true;
}

} // namespace IntegrityCheck
