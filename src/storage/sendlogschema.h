#pragma once

#include <QString>

struct sqlite3;

// The log of messages sent from the desktop, the messages the devices
// received, and the numbers that asked not to be sent to again.
namespace SendLogSchema {

// Version 1: the tables.
extern const char *const CreateSql;
// Version 3: a batch may wait for a set time (等待定时, 定时) and go out
// through several devices; each recipient row names the device it went
// through (设备) and the one that last wrote to the number (原设备); each
// received message the device that received it; every message handed to a
// device is counted in 发出的短信, which deleting a batch leaves alone, so
// the hourly and daily caps still see it; 发送设备 keeps the name each device
// was shown with.
extern const char *const PoolSql;

// Are the log's tables the ones this program writes (every column it uses
// present)? false with a sentence naming the table that is not.
bool check(sqlite3 *db, QString *error);

} // namespace SendLogSchema
