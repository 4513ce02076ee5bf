#pragma once

#include <QByteArray>
#include <QString>

// Small helpers shared by the test suites.
namespace TestSupport {

// Folder of the committed test data (workbooks and the like).
QString dataPath(const QString &name);

QByteArray readAll(const QString &path);
bool writeAll(const QString &path, const QByteArray &bytes);

} // namespace TestSupport
