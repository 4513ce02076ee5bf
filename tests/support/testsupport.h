#pragma once

#include "contact.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class QWidget;

// Small helpers shared by the test suites.
namespace TestSupport {

// Folder of the committed test data (workbooks and the like).
QString dataPath(const QString &name);

QByteArray readAll(const QString &path);
bool writeAll(const QString &path, const QByteArray &bytes);

// Every entry of a folder, hidden ones included (temporary files left behind show up).
QStringList entriesOf(const QString &folder);

// A contact with the given texts (ticked unless said otherwise).
Contact makeContact(const QString &mobile, const QString &name, const QString &salutation = {},
                    const QString &remark = {}, bool ticked = true);

// Types text key by key, Chinese included (QTest::keyClicks takes ASCII only).
void typeText(QWidget *widget, const QString &text);

} // namespace TestSupport
