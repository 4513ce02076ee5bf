#include "storage/followupschema.h"

#include "storage/schemacheck.h"

namespace FollowUpSchema {

// 时间 is local ISO 8601 text ("2026-12-07 14:30:00"), 下次回访 a date
// ("2026-12-08") or Null; the CHECKs keep them in that shape so that they
// sort as text.
//
// [回访最新] holds each number's newest record (latest 时间, then highest
// 编号) and its 下次回访, kept by the triggers, so that the list of who is due
// and its count read an index range instead of every record.
//
// [回访结果] is the list the 结果 box offers, in order; it travels with the
// database (and its backups) like the records that use it.
//
// The index on [通讯录] ([手机号]) finds the contacts and groups that hold a
// number; it adds nothing to the table itself.
const char *const CreateSql = R"sql(
CREATE TABLE [回访记录] (
  [编号]     INTEGER PRIMARY KEY,
  [手机号]   TEXT NOT NULL,
  [时间]     TEXT NOT NULL CHECK ([时间] GLOB
               '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]'),
  [方式]     TEXT NOT NULL CHECK ([方式] IN ('电话', '短信', '上门', '其他')),
  [结果]     TEXT,
  [内容]     TEXT,
  [下次回访] TEXT CHECK ([下次回访] IS NULL
               OR [下次回访] GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]')
);
CREATE INDEX [回访记录手机号] ON [回访记录] ([手机号], [时间], [编号]);

CREATE TABLE [回访最新] (
  [手机号]   TEXT PRIMARY KEY,
  [编号]     INTEGER NOT NULL,
  [下次回访] TEXT
);
CREATE INDEX [回访最新下次回访] ON [回访最新] ([下次回访]);

CREATE TRIGGER [回访记录_添加] AFTER INSERT ON [回访记录] BEGIN
  INSERT OR REPLACE INTO [回访最新] ([手机号], [编号], [下次回访])
    SELECT [手机号], [编号], [下次回访] FROM [回访记录] WHERE [手机号] = NEW.[手机号]
    ORDER BY [时间] DESC, [编号] DESC LIMIT 1;
END;
CREATE TRIGGER [回访记录_修改] AFTER UPDATE ON [回访记录] BEGIN
  DELETE FROM [回访最新] WHERE [手机号] IN (OLD.[手机号], NEW.[手机号]);
  INSERT OR REPLACE INTO [回访最新] ([手机号], [编号], [下次回访])
    SELECT [手机号], [编号], [下次回访] FROM [回访记录] WHERE [手机号] = OLD.[手机号]
    ORDER BY [时间] DESC, [编号] DESC LIMIT 1;
  INSERT OR REPLACE INTO [回访最新] ([手机号], [编号], [下次回访])
    SELECT [手机号], [编号], [下次回访] FROM [回访记录] WHERE [手机号] = NEW.[手机号]
    ORDER BY [时间] DESC, [编号] DESC LIMIT 1;
END;
CREATE TRIGGER [回访记录_删除] AFTER DELETE ON [回访记录] BEGIN
  DELETE FROM [回访最新] WHERE [手机号] = OLD.[手机号];
  INSERT INTO [回访最新] ([手机号], [编号], [下次回访])
    SELECT [手机号], [编号], [下次回访] FROM [回访记录] WHERE [手机号] = OLD.[手机号]
    ORDER BY [时间] DESC, [编号] DESC LIMIT 1;
END;

CREATE TABLE [回访结果] (
  [结果] TEXT PRIMARY KEY
);
INSERT INTO [回访结果] ([结果]) VALUES ('已接通'), ('未接通'), ('关机'), ('拒接'), ('空号');

CREATE INDEX [通讯录手机号] ON [通讯录] ([手机号]);
)sql";

bool check(sqlite3 *db, QString *error)
{
    static const SchemaCheck::Table tables[] = {
        {"回访记录", {"编号", "手机号", "时间", "方式", "结果", "内容", "下次回访"}},
        {"回访最新", {"手机号", "编号", "下次回访"}},
        {"回访结果", {"结果"}},
    };
    return SchemaCheck::tablesHaveColumns(db, tables, error);
}

} // namespace FollowUpSchema
