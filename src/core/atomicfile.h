#pragma once

#include <QString>

#include <functional>

// Writes a file so that it is either complete or not there at all: the
// content goes to a temporary file beside the target, which replaces the
// target only when the writer succeeded. An older file of that name survives
// every failure.
namespace AtomicFile {

// writer receives the temporary path to write to; it returns false and fills
// error on failure.
using Writer = std::function<bool(const QString &temporaryPath, QString *error)>;

bool write(const QString &finalPath, const Writer &writer, QString *error);

// Copies source to target atomically (used for the daily backup).
bool copy(const QString &source, const QString &target, QString *error);

} // namespace AtomicFile
