#pragma once

// Version 2: the follow-up records, one per call or visit, kept by mobile
// number so that they follow the person across groups.
namespace FollowUpSchema {

extern const char *const CreateSql;

} // namespace FollowUpSchema
