#pragma once

// Version 1: the log of messages sent from the desktop, the messages the
// modem received, and the numbers that asked not to be sent to again.
namespace SendLogSchema {

extern const char *const CreateSql;

} // namespace SendLogSchema
