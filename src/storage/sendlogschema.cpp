#include "storage/sendlogschema.h"

#include "storage/schemacheck.h"

namespace SendLogSchema {

// Times are local ISO 8601 text ("2026-12-07 14:30:00"), so they sort and
// read by hand. A batch keeps the text as typed and its pace; each recipient
// row keeps the text as sent and its state, written before the message
// leaves. The order of a batch is the order of its rows (编号). A batch is
// 进行中 while it runs (one still 进行中 at start was interrupted), 已暂停 or
// 已停止 by the user, 已中断 when the offer to continue it was declined,
// 已完成 when no row waits any more. 短信路径 is the message's object on the
// modem and 短信编号 its message reference, which a delivery report names. A
// received message keeps the time the network stamped it with (短信时间),
// which tells it apart when the modem's messages are read again at the next
// start. The send dialog's remembered choices are kept in 发送设置.
const char *const CreateSql = R"sql(
CREATE TABLE [发送批次] (
  [编号]       INTEGER PRIMARY KEY,
  [时间]       TEXT NOT NULL,
  [发送方式]   TEXT NOT NULL,
  [设备]       TEXT,
  [设备名称]   TEXT,
  [短信内容]   TEXT NOT NULL,
  [回T退订]    INTEGER NOT NULL DEFAULT 0,
  [每条间隔]   INTEGER NOT NULL DEFAULT 0,
  [每小时最多] INTEGER NOT NULL DEFAULT 0,
  [每天最多]   INTEGER NOT NULL DEFAULT 0,
  [时段开始]   TEXT,
  [时段结束]   TEXT,
  [状态]       TEXT NOT NULL DEFAULT '进行中'
                 CHECK ([状态] IN ('进行中', '已暂停', '已停止', '已中断', '已完成'))
);
CREATE TABLE [发送记录] (
  [编号]     INTEGER PRIMARY KEY,
  [批次]     INTEGER NOT NULL REFERENCES [发送批次] ([编号]),
  [手机号]   TEXT NOT NULL,
  [姓名]     TEXT,
  [发送内容] TEXT NOT NULL,
  [状态]     TEXT NOT NULL CHECK ([状态] IN ('待发送', '发送中', '已发送', '已送达',
                                             '送达失败', '失败', '未确认', '已交给手机')),
  [说明]     TEXT,
  [时间]     TEXT,
  [短信路径] TEXT,
  [短信编号] INTEGER
);
CREATE INDEX [发送记录批次] ON [发送记录] ([批次], [编号]);
CREATE INDEX [发送记录手机号] ON [发送记录] ([手机号]);
CREATE INDEX [发送记录时间] ON [发送记录] ([时间]);
CREATE TABLE [收到的短信] (
  [编号]     INTEGER PRIMARY KEY,
  [手机号]   TEXT NOT NULL,
  [内容]     TEXT,
  [时间]     TEXT NOT NULL,
  [短信路径] TEXT,
  [短信时间] TEXT
);
CREATE TABLE [退订名单] (
  [手机号] TEXT PRIMARY KEY,
  [时间]   TEXT NOT NULL,
  [来源]   TEXT NOT NULL
);
CREATE TABLE [发送设置] (
  [名称] TEXT PRIMARY KEY,
  [值]   TEXT NOT NULL
);
)sql";

// SQLite cannot change a CHECK: the batch table is made anew with the same
// columns and rows, so an older copy of the program still reads and writes it.
const char *const PoolSql = R"sql(
CREATE TABLE [发送批次_新] (
  [编号]       INTEGER PRIMARY KEY,
  [时间]       TEXT NOT NULL,
  [发送方式]   TEXT NOT NULL,
  [设备]       TEXT,
  [设备名称]   TEXT,
  [短信内容]   TEXT NOT NULL,
  [回T退订]    INTEGER NOT NULL DEFAULT 0,
  [每条间隔]   INTEGER NOT NULL DEFAULT 0,
  [每小时最多] INTEGER NOT NULL DEFAULT 0,
  [每天最多]   INTEGER NOT NULL DEFAULT 0,
  [时段开始]   TEXT,
  [时段结束]   TEXT,
  [状态]       TEXT NOT NULL DEFAULT '进行中'
                 CHECK ([状态] IN ('进行中', '已暂停', '已停止', '已中断', '已完成', '等待定时')),
  [定时]       TEXT
);
INSERT INTO [发送批次_新] ([编号], [时间], [发送方式], [设备], [设备名称], [短信内容], [回T退订],
  [每条间隔], [每小时最多], [每天最多], [时段开始], [时段结束], [状态])
  SELECT [编号], [时间], [发送方式], [设备], [设备名称], [短信内容], [回T退订], [每条间隔],
         [每小时最多], [每天最多], [时段开始], [时段结束], [状态] FROM [发送批次];
DROP TABLE [发送批次];
ALTER TABLE [发送批次_新] RENAME TO [发送批次];

ALTER TABLE [发送记录] ADD COLUMN [设备] TEXT;
ALTER TABLE [发送记录] ADD COLUMN [原设备] TEXT;
UPDATE [发送记录] SET [设备] =
  (SELECT b.[设备] FROM [发送批次] b WHERE b.[编号] = [发送记录].[批次])
  WHERE [状态] <> '待发送';
ALTER TABLE [收到的短信] ADD COLUMN [设备] TEXT;

CREATE TABLE [发出的短信] (
  [编号] INTEGER PRIMARY KEY,
  [设备] TEXT NOT NULL,
  [时间] TEXT NOT NULL
);
CREATE INDEX [发出的短信设备] ON [发出的短信] ([设备], [时间]);
INSERT INTO [发出的短信] ([设备], [时间])
  SELECT r.[设备], r.[时间] FROM [发送记录] r
  WHERE r.[设备] <> '' AND r.[时间] <> '' AND r.[状态] <> '待发送';

CREATE TABLE [发送设备] (
  [设备] TEXT PRIMARY KEY,
  [名称] TEXT NOT NULL
);
)sql";

bool check(sqlite3 *db, QString *error)
{
    static const SchemaCheck::Table tables[] = {
        {"发送批次",
         {"编号", "时间", "发送方式", "设备", "设备名称", "短信内容", "回T退订", "每条间隔",
          "每小时最多", "每天最多", "时段开始", "时段结束", "状态", "定时"}},
        {"发送记录",
         {"编号", "批次", "手机号", "姓名", "发送内容", "状态", "说明", "时间", "短信路径",
          "短信编号", "设备", "原设备"}},
        {"收到的短信", {"编号", "手机号", "内容", "时间", "短信路径", "短信时间", "设备"}},
        {"退订名单", {"手机号", "时间", "来源"}},
        {"发送设置", {"名称", "值"}},
        {"发出的短信", {"编号", "设备", "时间"}},
        {"发送设备", {"设备", "名称"}},
    };
    return SchemaCheck::tablesHaveColumns(db, tables, error);
}

} // namespace SendLogSchema
