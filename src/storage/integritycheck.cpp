#include "storage/integritycheck.h"

#include "storage/database.h"
#include "storage/statement.h"

#include <QFileInfo>
#include <QStringList>

namespace IntegrityCheck {

namespace {

qint64 countRows(Database &database, const char *sql, bool *ok)
{
    Statement statement(database.handle(), sql);
    if (statement.step() != SQLITE_ROW) {
        *ok = false;
        return -1;
    }
    return statement.int64(0);
}

} // namespace

bool check(const QString &path, QString *error, Counts *counts)
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
        const int code = quickCheck.step();
        if (code != SQLITE_ROW)
            return fail(database.lastErrorMessage());
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
        bool ok = true;
        const qint64 pages = countRows(database, "PRAGMA page_count", &ok);
        const qint64 pageSize = countRows(database, "PRAGMA page_size", &ok);
        const qint64 fileSize = QFileInfo(path).size();
        if (!ok)
            return fail(database.lastErrorMessage());
        if (pages * pageSize != fileSize)
            return fail(QStringLiteral("文件大小（%1 字节）与其中的数据页（%2 页，每页 %3 字节）不符")
                            .arg(fileSize)
                            .arg(pages)
                            .arg(pageSize));
    }
    if (counts) {
        bool ok = true;
        const qint64 groups = countRows(database, "SELECT count(*) FROM [分组]", &ok);
        const qint64 contacts = countRows(database, "SELECT count(*) FROM [通讯录]", &ok);
        if (!ok)
            return fail(database.lastErrorMessage());
        *counts = {groups, contacts};
    }
    return true;
}

} // namespace IntegrityCheck
