#pragma once

#include <QByteArray>
#include <QString>

class QWidget;

// Small helpers shared by the test suites.
namespace TestSupport {

// Folder of the committed test data (workbooks and the like).
QString dataPath(const QString &name);

QByteArray readAll(const QString &path);
bool writeAll(const QString &path, const QByteArray &bytes);

// Types text key by key, Chinese included (QTest::keyClicks takes ASCII only).
void typeText(QWidget *widget, const QString &text);

} // namespace TestSupport
