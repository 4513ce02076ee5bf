#include "storage/schema.h"

#include "storage/statement.h"

namespace Schema {

namespace {

// Every text column carries its width as a CHECK, so an over-long value is
// refused by the database itself (SQLITE_CONSTRAINT_CHECK). A Null passes.
// The index on 组别 lets a group be listed (in rowid order, as the index
// keeps equal keys) without reading every contact of every group.
// SQLite keeps table and index names in one namespace, so the unique index
// of 分组 cannot be named 分组 like its table: it is 分组索引.
// 短信 keeps exactly one row: the triggers refuse a second row and any
// deletion; the row itself is inserted here, when the table is made.
constexpr const char *CreateSql = R"sql(
CREATE TABLE [通讯录] (
  [手机号] TEXT CHECK(length([手机号]) <= 50),
  [姓名]   TEXT CHECK(length([姓名]) <= 50),
  [称呼]   TEXT CHECK(length([称呼]) <= 50),
  [序号]   TEXT CHECK(length([序号]) <= 50),
  [备注]   TEXT CHECK(length([备注]) <= 100),
  [备用1]  TEXT CHECK(length([备用1]) <= 50),
  [备用2]  TEXT CHECK(length([备用2]) <= 50),
  [备用3]  TEXT CHECK(length([备用3]) <= 50),
  [组别]   TEXT CHECK(length([组别]) <= 50),
  [选项]   TEXT CHECK(length([选项]) <= 10)
);
CREATE UNIQUE INDEX [序号] ON [通讯录] ([序号] ASC);
CREATE INDEX [组别] ON [通讯录] ([组别] ASC);

CREATE TABLE [分组] (
  [分组] TEXT CHECK(length([分组]) <= 50)
);
CREATE UNIQUE INDEX [分组索引] ON [分组] ([分组] ASC);

CREATE TABLE [短信] (
  [短信内容] TEXT,
  [备用1]    TEXT CHECK(length([备用1]) <= 50)
);
INSERT INTO [短信] ([短信内容], [备用1]) VALUES ('', NULL);
CREATE TRIGGER [短信只有一行_添加] BEFORE INSERT ON [短信]
  WHEN (SELECT count(*) FROM [短信]) > 0
  BEGIN SELECT RAISE(ABORT, '短信 holds exactly one row'); END;
CREATE TRIGGER [短信只有一行_删除] BEFORE DELETE ON [短信]
  BEGIN SELECT RAISE(ABORT, '短信 holds exactly one row'); END;
)sql";

struct TableColumns
{
    const char *table;
    const char *probe; // selects every column the program uses
};

constexpr TableColumns Tables[] = {
    {ContactTable, "SELECT [手机号], [姓名], [称呼], [序号], [备注], [备用1], [备用2], [备用3], "
                   "[组别], [选项] FROM [通讯录] LIMIT 0"},
    {GroupTable, "SELECT [分组] FROM [分组] LIMIT 0"},
    {SmsTable, "SELECT [短信内容], [备用1] FROM [短信] LIMIT 0"},
};

} // namespace

bool create(sqlite3 *db, QString *error)
{
    char *message = nullptr;
    if (sqlite3_exec(db, CreateSql, nullptr, nullptr, &message) != SQLITE_OK) {
        if (error)
            *error = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool verify(sqlite3 *db, QString *error)
{
    QStringList missing;
    for (const TableColumns &table : Tables) {
        Statement exists(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
        exists.bind(1, QString::fromUtf8(table.table));
        const int found = exists.step();
        if (found == SQLITE_DONE) {
            missing << QStringLiteral("数据表 %1").arg(QString::fromUtf8(table.table));
            continue;
        }
        if (found != SQLITE_ROW) {
            if (error)
                *error = QString::fromUtf8(sqlite3_errmsg(db));
            return false;
        }
        Statement probe(db, table.probe);
        if (!probe.isValid())
            missing << QStringLiteral("数据表 %1 的列（%2）")
                           .arg(QString::fromUtf8(table.table), QString::fromUtf8(sqlite3_errmsg(db)));
    }
    if (!missing.isEmpty()) {
        if (error)
            *error = QStringLiteral("缺少") + missing.join(QStringLiteral("、"));
        return false;
    }
    return true;
}

} // namespace Schema
