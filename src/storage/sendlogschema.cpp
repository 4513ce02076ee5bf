#include "storage/sendlogschema.h"

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

} // namespace SendLogSchema
