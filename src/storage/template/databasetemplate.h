#pragma once

#include <QByteArray>
#include <QString>

// The initial database carried inside the executable.
namespace DatabaseTemplate {

QByteArray bytes();

enum class EnsureResult { Existing, Created, Failed };

// Writes the template to path when no ordinary file is there; an existing
// file is never touched, whatever it holds, and neither is a folder or a
// link in the way. On Failed, error says why (a phrase in Chinese or the
// system's message, without the path).
EnsureResult ensureDatabaseFile(const QString &path, QString *error = nullptr);

} // namespace DatabaseTemplate
