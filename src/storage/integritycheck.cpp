#include "storage/integritycheck.h"

#include "storage/database.h"
#include "storage/statement.h"

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

Result check(const QString &path, Counts counts)
{
    Result result;
    Database database;
    QString openError;
    const Database::OpenResult opened =
        database.open(path, Database::Access::ReadOnly, &openError);
    if (opened != Database::OpenResult::Ok) {
        switch (opened) {
        case Database::OpenResult::NotADatabase:
            result.reason = QStringLiteral("无法用本程序的密码读取");
            break;
        case Database::OpenResult::WrongSchema:
            result.reason = QStringLiteral("缺少本程序的表或列");
            break;
        default:
            result.reason = openError;
            break;
        }
        return result;
    }
    // quick_check reads every page of every table and index (each page's
    // authentication code is verified as it is decrypted) and checks the
    // tree structure; it answers one row "ok" or the problems found.
    {
        Statement quickCheck(database.handle(), "PRAGMA quick_check(1)");
        const int code = quickCheck.step();
        if (code != SQLITE_ROW) {
            result.reason = database.lastErrorMessage();
            return result;
        }
        const QString answer = quickCheck.text(0);
        if (answer != QLatin1String("ok")) {
            // "*** in database main ***\nPage 5: ..." -> "Page 5: ..."
            QStringList lines = answer.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            lines.removeIf([](const QString &line) { return line.startsWith(QLatin1String("***")); });
            result.reason = QStringLiteral("数据页有错：%1").arg(lines.join(QStringLiteral("；")));
            return result;
        }
    }
    if (counts == Counts::Count) {
        bool ok = true;
        result.groups = countRows(database, "SELECT count(*) FROM [分组]", &ok);
        result.contacts = countRows(database, "SELECT count(*) FROM [通讯录]", &ok);
        if (!ok) {
            result.reason = database.lastErrorMessage();
            result.groups = result.contacts = -1;
            return result;
        }
    }
    result.passed = true;
    return result;
}

} // namespace IntegrityCheck
