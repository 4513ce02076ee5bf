#include "sending/modemmanagerlink.h"
#include "support/dbusmockbus.h"

#include <QDBusObjectPath>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString ModemManager = QStringLiteral("org.freedesktop.ModemManager1");
const QString Root = QStringLiteral("/org/freedesktop/ModemManager1");
const QString Mock = QStringLiteral("org.freedesktop.DBus.Mock");

} // namespace

// What the real ModemManager with our emulator cannot be made to do, through
// the stand-in: its generic plugin always gives a received message the
// network's time stamp, while some modems and networks give none.
class TestModemStandIn : public QObject
{
    Q_OBJECT

private slots:
    void messageWithoutStampIsKnownWhenReadAgain();
};

void TestModemStandIn::messageWithoutStampIsKnownWhenReadAgain()
{
    DBusMockBus bus(DBusMockBus::Kind::System);
    QString error;
    QVERIFY2(bus.start(&error), qPrintable(error));
    QVERIFY2(bus.startService(QStringLiteral("modemmanager.py"), ModemManager, &error),
             qPrintable(error));
    const QString modem = bus.call(ModemManager, Root, Mock, QStringLiteral("AddModem"),
                                   {QStringLiteral("Huawei"), QStringLiteral("E3372"),
                                    QStringLiteral("中国联通"), 60u})
                              .arguments()
                              .value(0)
                              .value<QDBusObjectPath>()
                              .path();
    QVERIFY(!modem.isEmpty());

    // Read at two starts of the program, ModemManager having made new
    // objects for the same messages in between: each gets its stamp again.
    QList<QMap<QString, QString>> runs; // text → stamp
    for (int start = 0; start < 2; ++start) {
        bus.call(ModemManager, Root, Mock, QStringLiteral("ForgetMessages"),
                 {QVariant::fromValue(QDBusObjectPath(modem))});
        for (const QString &text : {QStringLiteral("T"), QStringLiteral("好的")})
            bus.call(ModemManager, Root, Mock, QStringLiteral("ReceiveAt"),
                     {QVariant::fromValue(QDBusObjectPath(modem)), QStringLiteral("+8613500000001"),
                      text, QString()});
        ModemManagerLink link(bus.connection());
        QSignalSpy received(&link, &ModemManagerLink::messageReceived);
        QTRY_COMPARE(received.count(), 2);
        QMap<QString, QString> stamps;
        for (const QList<QVariant> &message : std::as_const(received))
            stamps.insert(message.at(2).toString(), message.at(3).toString());
        runs.append(stamps);
    }
    QCOMPARE(runs.at(1), runs.at(0));
    QVERIFY(!runs.at(0).value(QStringLiteral("T")).isEmpty());
    QVERIFY(runs.at(0).value(QStringLiteral("T")) != runs.at(0).value(QStringLiteral("好的")));
}

QTEST_GUILESS_MAIN(TestModemStandIn)
#include "test_modemstandin.moc"
