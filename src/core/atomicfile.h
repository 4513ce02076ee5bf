#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

// Writes a file so that it is either complete or not there at all: the
// content goes to a temporary file beside the target, which replaces the
// target only when the writer succeeded. An older file of that name survives
// every failure. Used where a library needs a file name to write to (or, for
// copies, where the copy must be checked under a name before it counts);
// writers that take a device use QSaveFile.
//
// The temporary file has a short name of its own (TemporaryPrefix + six
// letters or digits), so every target name the file system allows works.
// Its mode: the mode of the file it replaces, else what the umask gives a
// new file (0666 & ~umask); never wider.
namespace AtomicFile {

inline constexpr const char *TemporaryPrefix = ".lztmp-";

// writer receives the temporary path to write to; it returns false and fills
// error on failure.
using Writer = std::function<bool(const QString &temporaryPath, QString *error)>;
// Runs on the complete, synced temporary file before it replaces the target;
// false (with a reason) keeps the target as it was.
using Check = std::function<bool(const QString &temporaryPath, QString *error)>;

bool write(const QString &finalPath, const Writer &writer, QString *error,
           const Check &check = {});

// Whose mode a copy gets.
enum class ModeFrom {
    Target, // the file it replaces (a new one: 0666 & ~umask)
    Source, // the file it copies (a backup keeps the database's mode)
};

// Copies source to target atomically, the copy passing check first.
bool copy(const QString &source, const QString &target, QString *error,
          ModeFrom mode = ModeFrom::Target, const Check &check = {});

// Is fileName (no folder) a temporary file of write()?
bool isTemporaryName(const QString &fileName);

// Is fileName a temporary file of write(), or of the earlier versions of it,
// which named it "." + target name + "." + six letters or digits, for one of
// formerTargets?
bool isTemporaryName(const QString &fileName, const QStringList &formerTargets);

// Removes the temporary files (as isTemporaryName() tells them) in folder
// that were last modified before `before`, or more than
// FutureAllowanceSeconds after it: the remains of an interrupted write of an
// earlier run. Leaves every other file alone. Returns how many were removed.
inline constexpr int FutureAllowanceSeconds = 3600;
int removeLeftovers(const QString &folder, const QDateTime &before,
                    const QStringList &formerTargets = {});

} // namespace AtomicFile
