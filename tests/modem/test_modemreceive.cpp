#include "modemlinkfixture.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QSet>
#include <QSignalSpy>

using namespace ModemLinkTest;
using Readiness = ModemInfo::Readiness;

// startWith() in a test function, which ends there when it failed or skipped.
#define START_WITH(made)                                                                           \
    do {                                                                                           \
        startWith(made);                                                                           \
        if (!m_link || QTest::currentTestFailed())                                                 \
            return;                                                                                \
    } while (false)

// What the modems receive, through the real ModemManager: replies, delivery
// reports, the messages a SIM holds, and room on a full SIM.
class TestModemReceive : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void finalReportsAreHandedOn_data();
    void finalReportsAreHandedOn();
    void repliesAreHandedOn_data();
    void repliesAreHandedOn();
    void everyHeldMessageIsReadOnce();
    void messageReadAgainKeepsItsStamp();
    void fullSimTakesNewMessagesOnceEmptied();
    void cleanUpRemovesSettledMessagesAndHandedReports();

private:
    // A rig with one modem made with `made`, and the link; the modem enabled.
    void startWith(const ModemRig::Modem &made);
    QJsonObject steer(const QJsonObject &command) { return m_rig->steer(m_index, command); }
    QStringList listed() const;

    std::unique_ptr<ModemRig> m_rig;
    std::unique_ptr<ModemManagerLink> m_link;
    std::unique_ptr<QSignalSpy> m_received;
    std::unique_ptr<QSignalSpy> m_reports;
    ModemRig::Modem m_made = modemNumbered(1);
    int m_index = -1;
};

void TestModemReceive::cleanup()
{
    if (m_rig)
        m_rig->reportIfFailed();
    m_received.reset();
    m_reports.reset();
    m_link.reset();
    m_rig.reset();
}

void TestModemReceive::startWith(const ModemRig::Modem &made)
{
    m_made = made;
    m_rig = std::make_unique<ModemRig>();
    START_MODEM_RIG(*m_rig);
    ADD_MODEM(*m_rig, m_index, made);
    m_link = std::make_unique<ModemManagerLink>(m_rig->linkConnection());
    m_received = std::make_unique<QSignalSpy>(m_link.get(), &ModemManagerLink::messageReceived);
    m_reports = std::make_unique<QSignalSpy>(m_link.get(), &ModemManagerLink::statusReport);
    QVERIFY(waitForReadiness(*m_link, idOf(made), Readiness::Disabled));
    bool enabled = false;
    m_link->enable(idOf(made), [&enabled](bool ok, const QString &) { enabled = ok; });
    QTRY_VERIFY_WITH_TIMEOUT(enabled, WaitMs);
}

// The messages ModemManager holds for the modem.
QStringList TestModemReceive::listed() const
{
    const QDBusMessage reply = m_rig->connection().call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.ModemManager1"), m_rig->path(m_index),
        QStringLiteral("org.freedesktop.ModemManager1.Modem.Messaging"), QStringLiteral("List")));
    QStringList paths;
    for (const QDBusObjectPath &path :
         qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().value(0)))
        paths.append(path.path());
    paths.sort();
    return paths;
}

void TestModemReceive::finalReportsAreHandedOn_data()
{
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<bool>("delivered");
    QTest::newRow("delivered") << QStringList{QStringLiteral("delivered")} << true;
    QTest::newRow("failed for good") << QStringList{QStringLiteral("failed")} << false;
    QTest::newRow("expired") << QStringList{QStringLiteral("expired")} << false;
    // A network still trying says nothing yet: only the final one counts.
    QTest::newRow("still trying, then delivered")
        << QStringList{QStringLiteral("temporary"), QStringLiteral("delivered")} << true;
}

void TestModemReceive::finalReportsAreHandedOn()
{
    QFETCH(QStringList, outcomes);
    QFETCH(bool, delivered);
    START_WITH(modemNumbered(1));
    const auto sent = sendThrough(*m_link, idOf(m_made), QStringLiteral("+8613912345678"),
                                  QStringLiteral("请查收"));
    QVERIFY(sent->result);
    QCOMPARE(sent->result->state, RecordState::Sent);
    for (const QString &outcome : std::as_const(outcomes))
        steer({{QStringLiteral("cmd"), QStringLiteral("report")},
               {QStringLiteral("reference"), sent->result->reference},
               {QStringLiteral("outcome"), outcome}});
    QTRY_COMPARE_WITH_TIMEOUT(m_reports->count(), 1, WaitMs);
    const QList<QVariant> report = m_reports->constFirst();
    QCOMPARE(report.at(0).toString(), idOf(m_made));
    QCOMPARE(report.at(1).toString(), QStringLiteral("13912345678"));
    QCOMPARE(report.at(2).toLongLong(), sent->result->reference);
    QCOMPARE(report.at(3).toBool(), delivered);
    QVERIFY(listed().contains(report.at(4).toString()));
    QVERIFY(m_received->isEmpty());
}

void TestModemReceive::repliesAreHandedOn_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("parts");
    QTest::newRow("opt-out, GSM alphabet") << QStringLiteral("T") << 1;
    QTest::newRow("Chinese") << QStringLiteral("好的，谢谢！周六见。") << 1;
    QString longText;
    for (int i = 0; i < 8; ++i)
        longText += QStringLiteral("第%1段：收到您的短信，我们下周再联系。").arg(i);
    QTest::newRow("long, in parts that come apart") << longText << 3;
}

void TestModemReceive::repliesAreHandedOn()
{
    QFETCH(QString, text);
    QFETCH(int, parts);
    START_WITH(modemNumbered(2));
    const QJsonObject delivered = steer({{QStringLiteral("cmd"), QStringLiteral("deliver")},
                                         {QStringLiteral("from"), QStringLiteral("+8613500000001")},
                                         {QStringLiteral("text"), text},
                                         {QStringLiteral("parts"), parts},
                                         {QStringLiteral("gapMs"), 500}});
    QCOMPARE(delivered.value(QStringLiteral("parts")).toInt(), parts);
    QTRY_COMPARE_WITH_TIMEOUT(m_received->count(), 1, WaitMs);
    const QList<QVariant> message = m_received->constFirst();
    QCOMPARE(message.at(0).toString(), idOf(m_made));
    QCOMPARE(message.at(1).toString(), QStringLiteral("13500000001"));
    QCOMPARE(message.at(2).toString(), text);
    // The network's time stamp, as ModemManager writes it.
    QVERIFY2(QDateTime::fromString(message.at(3).toString(), Qt::ISODate).isValid(),
             qPrintable(message.at(3).toString()));
    QVERIFY(listed().contains(message.at(4).toString()));
}

void TestModemReceive::everyHeldMessageIsReadOnce()
{
    ModemRig::Modem made = modemNumbered(3);
    made.held = 600;
    made.heldOptOut = 60;
    START_WITH(made);
    // Each read on its own, far more than the bus lets one connection wait for.
    QTRY_COMPARE_WITH_TIMEOUT(m_received->count(), 600, 120000);
    QSet<QString> paths;
    QSet<QString> senders;
    int optOuts = 0;
    for (const QList<QVariant> &message : std::as_const(*m_received)) {
        senders.insert(message.at(1).toString());
        paths.insert(message.at(4).toString());
        if (message.at(2).toString() == QLatin1String("T"))
            ++optOuts;
    }
    QCOMPARE(paths.size(), 600);
    QCOMPARE(senders.size(), 600);
    QCOMPARE(optOuts, 60);
}

void TestModemReceive::messageReadAgainKeepsItsStamp()
{
    ModemRig::Modem made = modemNumbered(4);
    made.held = 2;
    START_WITH(made);
    QTRY_COMPARE_WITH_TIMEOUT(m_received->count(), 2, WaitMs);
    QMap<QString, QString> stamps; // text → stamp
    for (const QList<QVariant> &message : std::as_const(*m_received))
        stamps.insert(message.at(2).toString(), message.at(3).toString());
    m_received->clear();

    QString error;
    QVERIFY2(m_rig->restartModemManager(&error), qPrintable(error));
    QVERIFY(waitForReadiness(*m_link, idOf(m_made), Readiness::Disabled));
    bool enabled = false;
    m_link->enable(idOf(m_made), [&enabled](bool ok, const QString &) { enabled = ok; });
    QTRY_VERIFY_WITH_TIMEOUT(enabled, WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(m_received->count(), 2, WaitMs);
    for (const QList<QVariant> &message : std::as_const(*m_received))
        QCOMPARE(message.at(3).toString(), stamps.value(message.at(2).toString()));
}

void TestModemReceive::fullSimTakesNewMessagesOnceEmptied()
{
    ModemRig::Modem made = modemNumbered(5);
    made.capacity = 5;
    made.held = 5;
    START_WITH(made);
    QTRY_COMPARE_WITH_TIMEOUT(m_received->count(), 5, WaitMs);
    steer({{QStringLiteral("cmd"), QStringLiteral("deliver")},
           {QStringLiteral("from"), QStringLiteral("13500000009")},
           {QStringLiteral("text"), QStringLiteral("退订")}});
    // The network holds it: the SIM has no room.
    const QJsonObject state = steer({{QStringLiteral("cmd"), QStringLiteral("state")}});
    QCOMPARE(state.value(QStringLiteral("pending")).toInt(), 1);
    QCOMPARE(state.value(QStringLiteral("stored")).toInt(), 5);
    QCOMPARE(m_received->count(), 5);

    for (const QList<QVariant> &message : std::as_const(*m_received))
        m_link->deleteSms(idOf(m_made), message.at(4).toString());
    QTRY_COMPARE_WITH_TIMEOUT(m_received->count(), 6, WaitMs);
    QCOMPARE(m_received->last().at(1).toString(), QStringLiteral("13500000009"));
    QCOMPARE(m_received->last().at(2).toString(), QStringLiteral("退订"));
    QTRY_COMPARE_WITH_TIMEOUT(listed(), QStringList{m_received->last().at(4).toString()}, WaitMs);
}

void TestModemReceive::cleanUpRemovesSettledMessagesAndHandedReports()
{
    START_WITH(modemNumbered(6));
    QStringList made;
    qint64 reference = -1;
    for (int i = 0; i < 3; ++i) {
        const auto sent = sendThrough(*m_link, idOf(m_made), QStringLiteral("1391234567%1").arg(i),
                                      QStringLiteral("第%1条").arg(i));
        QVERIFY(sent->result);
        QCOMPARE(sent->result->state, RecordState::Sent);
        made.append(sent->createdPath);
        reference = sent->result->reference;
    }
    steer({{QStringLiteral("cmd"), QStringLiteral("report")},
           {QStringLiteral("reference"), reference},
           {QStringLiteral("outcome"), QStringLiteral("delivered")}});
    QTRY_COMPARE_WITH_TIMEOUT(m_reports->count(), 1, WaitMs);
    QCOMPARE(listed().size(), 4);

    // The caller settled the first two.
    int removed = -1;
    m_link->cleanUp(
        idOf(m_made), [&made](const QString &path) { return path != made.last(); },
        [&removed](int count) { removed = count; });
    QTRY_VERIFY_WITH_TIMEOUT(removed >= 0, WaitMs);
    QCOMPARE(removed, 3);
    QTRY_COMPARE_WITH_TIMEOUT(listed(), QStringList{made.last()}, WaitMs);
}

QTEST_GUILESS_MAIN(TestModemReceive)
#include "test_modemreceive.moc"
