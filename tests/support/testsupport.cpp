#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace TestSupport {

QString dataPath(const QString &name)
{
    return QStringLiteral(LANZHOU_TEST_DATA "/") + name;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

Contact makeContact(const QString &mobile, const QString &name, const QString &salutation,
                    const QString &remark, bool ticked)
{
    Contact contact;
    contact.mobile = mobile;
    contact.name = name;
    contact.salutation = salutation;
    contact.remark = remark;
    contact.ticked = ticked;
    return contact;
}

void typeText(QWidget *widget, const QString &text)
{
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

} // namespace TestSupport
