#include "sending/modeminfo.h"

#include <QDBusArgument>
#include <QStringList>

namespace {

const QString ModemInterface = QStringLiteral("org.freedesktop.ModemManager1.Modem");
const QString Modem3gppInterface = QStringLiteral("org.freedesktop.ModemManager1.Modem.Modem3gpp");
const QString MessagingInterface = QStringLiteral("org.freedesktop.ModemManager1.Modem.Messaging");

constexpr int StateUnknown = 0;
constexpr uint FailedSimMissing = 2;
constexpr uint FailedSimError = 3;
constexpr uint LockSimPin = 2;
constexpr uint LockSimPuk = 4;
constexpr uint LockNone = 1;

int percentOf(const QVariant &value)
{
    if (!value.canConvert<QDBusArgument>())
        return -1;
    const auto argument = value.value<QDBusArgument>();
    uint quality = 0;
    bool recent = false;
    argument.beginStructure();
    argument >> quality >> recent;
    argument.endStructure();
    return int(quality);
}

QString lastDigits(const QString &text, int count)
{
    QString digits;
    for (const QChar c : text) {
        if (c.isDigit())
            digits.append(c);
    }
    return digits.right(count);
}

QString lockProblem(uint unlockRequired)
{
    switch (unlockRequired) {
    case LockSimPin:
        return QStringLiteral("SIM 卡需要 PIN 码");
    case LockSimPuk:
        return QStringLiteral("SIM 卡已锁住，需要 PUK 码");
    default:
        return QStringLiteral("SIM 卡被锁住，需要解锁");
    }
}

// The readiness and, when not ready, why.
std::pair<ModemInfo::Readiness, QString> readinessOf(int state, uint failedReason,
                                                     uint unlockRequired, bool messaging)
{
    using R = ModemInfo::Readiness;
    switch (state) {
    case ModemInfo::StateFailed:
        if (failedReason == FailedSimMissing)
            return {R::NoSim, QStringLiteral("没有插入 SIM 卡")};
        if (failedReason == FailedSimError)
            return {R::Failed, QStringLiteral("SIM 卡无法使用")};
        return {R::Failed, QStringLiteral("短信猫出错，无法使用")};
    case StateUnknown:
    case 1: // initialising
        return {R::Busy, QStringLiteral("短信猫正在准备")};
    case ModemInfo::StateLocked:
        return {R::Locked, lockProblem(unlockRequired)};
    case ModemInfo::StateDisabling:
        return {R::Busy, QStringLiteral("短信猫正在停用")};
    case ModemInfo::StateEnabling:
        return {R::Busy, QStringLiteral("短信猫正在启用")};
    default:
        break;
    }
    if (!messaging)
        return {R::Failed, QStringLiteral("短信猫不支持短信")};
    // A PIN asked for again after the modem was enabled.
    if (unlockRequired != LockNone && unlockRequired != 0)
        return {R::Locked, lockProblem(unlockRequired)};
    if (state == ModemInfo::StateDisabled)
        return {R::Disabled, QStringLiteral("短信猫还没有启用")};
    if (state < ModemInfo::StateRegistered)
        return {R::NoNetwork, QStringLiteral("没有注册到网络")};
    return {R::Ready, QString()};
}

} // namespace

bool ModemInfo::canSend() const
{
    return readiness == Readiness::Ready || readiness == Readiness::Disabled;
}

QString ModemInfo::label() const
{
    QString text = QStringList{manufacturer, model}.join(u' ').trimmed();
    if (text.isEmpty())
        text = QStringLiteral("短信猫");
    // The SIM's last digits tell the modems of a pool apart, enabled or not.
    QStringList details;
    if (!operatorName.isEmpty())
        details.append(operatorName);
    if (const QString digits = simDigits(); !digits.isEmpty())
        details.append(QStringLiteral("尾号 ") + digits);
    if (signalPercent >= 0 && state >= StateEnabled)
        details.append(QStringLiteral("信号 %1%").arg(signalPercent));
    if (!details.isEmpty())
        text += QStringLiteral("（%1）").arg(details.join(u'，'));
    if (!problem.isEmpty())
        text += QStringLiteral("：") + problem;
    return text;
}

QString ModemInfo::simDigits() const
{
    return lastDigits(ownNumber, 4).size() == 4 ? lastDigits(ownNumber, 4) : lastDigits(iccid, 4);
}

QString ModemInfo::simLabel() const
{
    const QString digits = simDigits();
    QStringList parts;
    if (!operatorName.isEmpty())
        parts.append(operatorName);
    else if (!digits.isEmpty())
        parts.append(QStringLiteral("SIM 卡"));
    if (!digits.isEmpty())
        parts.append(QStringLiteral("尾号 ") + digits);
    return parts.join(u' ');
}

ModemInfo ModemInfo::fromProperties(const QString &path,
                                    const QMap<QString, QVariantMap> &interfaces,
                                    const QVariantMap &sim)
{
    const QVariantMap modem = interfaces.value(ModemInterface);
    const QVariantMap modem3gpp = interfaces.value(Modem3gppInterface);
    ModemInfo info;
    info.path = path;
    info.manufacturer = modem.value(QStringLiteral("Manufacturer")).toString().trimmed();
    info.model = modem.value(QStringLiteral("Model")).toString().trimmed();
    info.imei = modem3gpp.value(QStringLiteral("Imei")).toString().trimmed();
    if (info.imei.isEmpty())
        info.imei = modem.value(QStringLiteral("EquipmentIdentifier")).toString().trimmed();
    info.iccid = sim.value(QStringLiteral("SimIdentifier")).toString().trimmed();
    info.ownNumber = modem.value(QStringLiteral("OwnNumbers")).toStringList().value(0);
    info.operatorName = modem3gpp.value(QStringLiteral("OperatorName")).toString().trimmed();
    if (info.operatorName.isEmpty())
        info.operatorName = sim.value(QStringLiteral("OperatorName")).toString().trimmed();
    info.signalPercent = percentOf(modem.value(QStringLiteral("SignalQuality")));
    info.state = modem.value(QStringLiteral("State")).toInt();
    const QString device = modem.value(QStringLiteral("DeviceIdentifier")).toString();
    if (!info.iccid.isEmpty())
        info.id = QStringLiteral("iccid:") + info.iccid;
    else if (!info.imei.isEmpty())
        info.id = QStringLiteral("imei:") + info.imei;
    else if (!device.isEmpty())
        info.id = QStringLiteral("device:") + device;
    else
        info.id = QStringLiteral("path:") + path;
    std::tie(info.readiness, info.problem) =
        readinessOf(info.state, modem.value(QStringLiteral("StateFailedReason")).toUInt(),
                    modem.value(QStringLiteral("UnlockRequired")).toUInt(),
                    interfaces.contains(MessagingInterface));
    return info;
}
