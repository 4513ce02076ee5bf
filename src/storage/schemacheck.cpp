#include "storage/schemacheck.h"

#include "storage/statement.h"

#include <QSet>

namespace SchemaCheck {

bool tablesHaveColumns(sqlite3 *db, std::span<const Table> tables, QString *error)
{
    for (const Table &table : tables) {
        // table_info takes no bound name: the names here are the program's own.
        const QByteArray sql = QByteArray("PRAGMA table_info([") + table.name + "])";
        Statement info(db, sql.constData());
        QSet<QString> present;
        int code = SQLITE_ROW;
        while ((code = info.step()) == SQLITE_ROW)
            present.insert(info.text(1));
        QString problem;
        if (code != SQLITE_DONE)
            problem = QStringLiteral("无法读取（%1）").arg(QString::fromUtf8(sqlite3_errmsg(db)));
        else if (present.isEmpty())
            problem = QStringLiteral("不存在");
        for (const char *column : table.columns) {
            if (problem.isEmpty() && !present.contains(QString::fromUtf8(column)))
                problem = QStringLiteral("缺少“%1”一栏").arg(QString::fromUtf8(column));
        }
        if (!problem.isEmpty()) {
            if (error)
                *error = QStringLiteral("数据表“%1”%2").arg(QString::fromUtf8(table.name), problem);
            return false;
        }
    }
    return true;
}

} // namespace SchemaCheck
