#pragma once

#include <QByteArray>
#include <QString>

// The files the program keeps in the data folder under fixed names (the
// recovery file, the lock, the backups) are only ever used as what they
// should be: regular files. A symbolic link (to a file elsewhere), a FIFO, a
// device or a folder of that name is never followed, read, written or
// removed; the caller names it in a message instead.
namespace PlainFile {

enum class Kind {
    Missing, // nothing of that name
    Regular,
    Other, // a symbolic link, a folder, a FIFO, a device, a socket
};

// What the name itself is (not following a link); size receives a regular
// file's size.
Kind kindOf(const QString &path, qint64 *size = nullptr);

// "是一个符号链接", "是一个文件夹", "不是普通文件": for messages about a path of
// Kind::Other.
QString describeOther(const QString &path);

enum class ReadResult { Read, Missing, Refused };

// Reads a regular file of at most maxBytes, opened without following a link
// and without waiting on a FIFO. Refused (error says why, naming the file):
// anything else, a larger file or a read error.
ReadResult read(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *error);

// Removes path when it is a regular file; anything else stays.
bool removeRegular(const QString &path);

} // namespace PlainFile
