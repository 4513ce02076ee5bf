#pragma once

#include <QString>

#include <span>
#include <vector>

struct sqlite3;

// Whether tables a part of the program adds are the ones it wrote: a table
// that is missing, or was replaced by one without a column the program uses,
// turns that part off with one clear message instead of failing statement by
// statement later.
namespace SchemaCheck {

struct Table
{
    const char *name;
    std::vector<const char *> columns;
};

// false with a sentence naming the first table that is missing or lacks a
// column.
bool tablesHaveColumns(sqlite3 *db, std::span<const Table> tables, QString *error);

} // namespace SchemaCheck
