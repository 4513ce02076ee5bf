#include "storage/followupschema.h"

namespace FollowUpSchema {

// 时间 is local ISO 8601 text ("2026-12-07 14:30:00"), 下次回访 a date
// ("2026-12-08") or Null.
const char *const CreateSql = R"sql(
CREATE TABLE [回访记录] (
  [编号]     INTEGER PRIMARY KEY,
  [手机号]   TEXT NOT NULL,
  [时间]     TEXT NOT NULL,
  [方式]     TEXT NOT NULL CHECK ([方式] IN ('电话', '短信', '上门', '其他')),
  [结果]     TEXT,
  [内容]     TEXT,
  [下次回访] TEXT
);
CREATE INDEX [回访记录手机号] ON [回访记录] ([手机号], [时间], [编号]);
)sql";

} // namespace FollowUpSchema
