#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// The backups the exit writes, one per day of the month
// (appFolder/数据备份/D日/通讯录.dat), as a list to choose from.
namespace BackupRing {

struct Entry
{
    QString path;      // the backup file
    QString dayFolder; // "6日"
    QDateTime written; // when the file was last written
};

// Every backup of the ring that exists as a regular file, newest first;
// those dated ahead of the clock last.
QList<Entry> entries(const QString &appFolder);

// The newest backup that passes the integrity check, if any.
std::optional<Entry> newestGood(const QString &appFolder);

// "数据备份/6日/通讯录.dat（2026-12-06 18:30 写入）", for messages.
QString describe(const Entry &entry);

} // namespace BackupRing
