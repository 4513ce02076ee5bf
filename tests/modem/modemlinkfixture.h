#pragma once

#include "sending/modemmanagerlink.h"
#include "support/modemrig.h"

#include <QJsonObject>
#include <QTest>

#include <memory>
#include <optional>

// Starts the rig for a test function (skipped only where the machine cannot
// run it at all: not root, a daemon not installed).
#define START_MODEM_RIG(rig, ...)                                                                  \
    do {                                                                                           \
        const QString unavailable = ModemRig::unavailable();                                       \
        if (!unavailable.isEmpty())                                                                \
            QSKIP(qPrintable(unavailable));                                                        \
        QString rigError;                                                                          \
        QVERIFY2((rig).start(&rigError __VA_OPT__(, ) __VA_ARGS__), qPrintable(rigError));         \
    } while (false)

// Adds a modem to the rig; its index in `index`.
#define ADD_MODEM(rig, index, modem)                                                               \
    do {                                                                                           \
        QString addError;                                                                          \
        (index) = (rig).addModem((modem), &addError);                                              \
        QVERIFY2((index) >= 0, qPrintable(addError));                                              \
    } while (false)

namespace ModemLinkTest {

constexpr int WaitMs = 30000;

// A modem made with these, its SIM's ICCID ending in `n`.
inline ModemRig::Modem modemNumbered(int n)
{
    ModemRig::Modem modem;
    modem.imei = QStringLiteral("8675309000000%1").arg(n, 2, 10, QLatin1Char('0'));
    modem.iccid = QStringLiteral("898600000000000000%1").arg(n, 2, 10, QLatin1Char('0'));
    modem.imsi = QStringLiteral("4600012345678%1").arg(n, 2, 10, QLatin1Char('0'));
    modem.number = QStringLiteral("+86138000056%1").arg(n, 2, 10, QLatin1Char('0'));
    modem.signal = 80;
    return modem;
}

inline QString idOf(const ModemRig::Modem &modem)
{
    return QStringLiteral("iccid:") + modem.iccid;
}

// Waits until the link lists the modem with that readiness.
inline bool waitForReadiness(const ModemManagerLink &link, const QString &id,
                             ModemInfo::Readiness readiness, int timeoutMs = WaitMs)
{
    return QTest::qWaitFor(
        [&] {
            const std::optional<ModemInfo> modem = link.modem(id);
            return modem && modem->readiness == readiness;
        },
        timeoutMs);
}

// What one send ended with.
struct SendOutcome
{
    QString createdPath;
    bool createdFirst = false;
    int doneCalls = 0;
    std::optional<SendResult> result;
};

// Sends and waits for done (or the timeout: result stays empty).
inline std::shared_ptr<SendOutcome> sendThrough(ModemManagerLink &link, const QString &id,
                                                const QString &number, const QString &text,
                                                int timeoutMs = WaitMs)
{
    auto outcome = std::make_shared<SendOutcome>();
    link.send(
        id, number, text, [outcome](const QString &path) { outcome->createdPath = path; },
        [outcome](const SendResult &result) {
            outcome->createdFirst = !outcome->createdPath.isEmpty();
            ++outcome->doneCalls;
            outcome->result = result;
        });
    if (!QTest::qWaitFor([&] { return outcome->result.has_value(); }, timeoutMs))
        qWarning("the send did not end in %d ms", timeoutMs);
    return outcome;
}

// readSmsState, waited for; -1 for nullopt, -2 when no answer came.
inline int smsState(ModemManagerLink &link, const QString &id, const QString &path,
                    const QString &number, const QString &text)
{
    auto state = std::make_shared<std::optional<std::optional<uint>>>();
    link.readSmsState(id, path, number, text, [state](std::optional<uint> read) { *state = read; });
    if (!QTest::qWaitFor([&] { return state->has_value(); }, WaitMs))
        return -2;
    return state->value() ? int(*state->value()) : -1;
}

} // namespace ModemLinkTest
