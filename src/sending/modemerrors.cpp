#include "sending/modemerrors.h"

#include <QRegularExpression>

#include <array>

namespace {

const QString Prefix = QStringLiteral("org.freedesktop.ModemManager1.Error.");

struct Text
{
    const char *name; // after the prefix above, or a whole D-Bus name
    const char16_t *text;
};

constexpr std::array<Text, 57> Texts = {{
    {"Core.WrongState", u"短信猫还没有准备好"},
    {"Core.Unauthorized", u"系统不允许当前用户使用短信猫（polkit 没有授权）"},
    {"Core.Cancelled", u"短信猫的操作被取消"},
    {"Core.Aborted", u"短信猫的操作被中止"},
    {"Core.Unsupported", u"短信猫不支持这项操作"},
    {"Core.InvalidArgs", u"号码或短信内容无效"},
    {"Core.InProgress", u"短信猫正忙"},
    {"Core.NotFound", u"短信猫上找不到这条短信"},
    {"Core.Retry", u"短信猫暂时无法完成，请稍后再试"},
    {"Core.WrongSimState", u"SIM 卡的状态不允许这项操作"},
    {"Core.TooMany", u"短信猫的请求太多"},
    {"Serial.ResponseTimeout", u"短信猫没有回答"},
    {"Serial.OpenFailed", u"无法打开短信猫的端口"},
    {"Serial.OpenFailedNoDevice", u"短信猫的端口已经不在了"},
    {"Serial.SendFailed", u"无法向短信猫发送命令"},
    {"Serial.NotOpen", u"短信猫的端口没有打开"},
    {"MobileEquipment.PhoneFailure", u"短信猫故障"},
    {"MobileEquipment.NotAllowed", u"短信猫不允许这项操作"},
    {"MobileEquipment.NotSupported", u"短信猫不支持这项操作"},
    {"MobileEquipment.SimNotInserted", u"没有插入 SIM 卡"},
    {"MobileEquipment.SimPin", u"SIM 卡需要 PIN 码"},
    {"MobileEquipment.SimPuk", u"SIM 卡已锁住，需要 PUK 码"},
    {"MobileEquipment.SimFailure", u"SIM 卡故障"},
    {"MobileEquipment.SimBusy", u"SIM 卡正忙"},
    {"MobileEquipment.SimWrong", u"SIM 卡无法使用"},
    {"MobileEquipment.IncorrectPassword", u"PIN 码不对"},
    {"MobileEquipment.MemoryFull", u"短信猫的存储已满"},
    {"MobileEquipment.NoNetwork", u"没有网络"},
    {"MobileEquipment.NetworkTimeout", u"网络超时"},
    {"MobileEquipment.NetworkNotAllowed", u"网络只允许紧急呼叫"},
    {"Message.MeFailure", u"短信猫故障"},
    {"Message.SmsServiceReserved", u"短信服务暂不可用"},
    {"Message.NotAllowed", u"短信猫不允许发送"},
    {"Message.NotSupported", u"短信猫不支持这项操作"},
    {"Message.InvalidPduParameter", u"短信格式无效"},
    {"Message.InvalidTextParameter", u"短信内容无效"},
    {"Message.SimNotInserted", u"没有插入 SIM 卡"},
    {"Message.SimPin", u"SIM 卡需要 PIN 码"},
    {"Message.PhSimPin", u"短信猫需要解锁码"},
    {"Message.SimFailure", u"SIM 卡故障"},
    {"Message.SimBusy", u"SIM 卡正忙"},
    {"Message.SimWrong", u"SIM 卡无法使用"},
    {"Message.SimPuk", u"SIM 卡已锁住，需要 PUK 码"},
    {"Message.MemoryFailure", u"SIM 卡存储故障"},
    {"Message.InvalidIndex", u"短信编号无效"},
    {"Message.MemoryFull", u"SIM 卡的短信存储已满"},
    {"Message.SmscAddressUnknown", u"不知道短信中心号码"},
    {"Message.NoNetwork", u"没有网络"},
    {"Message.NetworkTimeout", u"网络超时"},
    {"org.freedesktop.DBus.Error.UnknownMethod", u"短信猫或这条短信已经不在了"},
    {"org.freedesktop.DBus.Error.UnknownObject", u"短信猫或这条短信已经不在了"},
    {"org.freedesktop.DBus.Error.ServiceUnknown", u"ModemManager 没有运行"},
    {"org.freedesktop.DBus.Error.NameHasNoOwner", u"ModemManager 没有运行"},
    {"org.freedesktop.DBus.Error.NoReply", u"没有等到短信猫的回答"},
    {"org.freedesktop.DBus.Error.Timeout", u"没有等到短信猫的回答"},
    {"org.freedesktop.DBus.Error.LimitsExceeded", u"同时向 ModemManager 发出的请求太多"},
    {"org.freedesktop.DBus.Error.AccessDenied", u"系统总线拒绝了这项操作"},
}};

// Why the network (or the short message centre) refused a message: the
// cause the modem reports as "+CMS ERROR: <n>" below 300 (RP-cause, TP-FCS).
QString networkCause(int cause)
{
    switch (cause) {
    case 1:
    case 30:
        return QStringLiteral("号码不存在");
    case 8:
    case 10:
        return QStringLiteral("运营商禁止发送");
    case 21:
        return QStringLiteral("短信被拒收");
    case 22:
        return QStringLiteral("对方的短信存储已满");
    case 27:
        return QStringLiteral("对方不在服务区");
    case 28:
        return QStringLiteral("对方号码无法识别");
    case 29:
        return QStringLiteral("请求被拒绝");
    case 38:
        return QStringLiteral("网络故障");
    case 41:
        return QStringLiteral("网络暂时故障");
    case 42:
        return QStringLiteral("网络拥塞");
    case 47:
        return QStringLiteral("网络资源不足");
    case 50:
        return QStringLiteral("没有开通短信业务");
    case 69:
        return QStringLiteral("网络不支持");
    case 0xC0:
        return QStringLiteral("短信中心忙");
    case 0xC1:
        return QStringLiteral("没有开通短信中心服务");
    case 0xC2:
        return QStringLiteral("短信中心故障");
    case 0xC3:
        return QStringLiteral("号码无效");
    case 0xC4:
        return QStringLiteral("对方号码被禁止接收");
    default:
        return {};
    }
}

// ModemManager names a code it has no name for "Unknown … error: <n>".
int codeIn(const QString &message)
{
    static const QRegularExpression code(QStringLiteral("error: *(\\d+)"));
    const QRegularExpressionMatch match = code.match(message);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QString reason(const QString &errorName, const QString &errorMessage)
{
    const QString shortName =
        errorName.startsWith(Prefix) ? errorName.mid(Prefix.size()) : errorName;
    if (shortName == QLatin1String("Message.Unknown")) {
        const int code = codeIn(errorMessage);
        if (code < 0) {
            return errorMessage == QLatin1String("Unknown")
                ? QStringLiteral("短信猫报告了未知错误（CMS 500）")
                : QStringLiteral("短信猫报告了未知错误");
        }
        const QString cause = networkCause(code);
        return cause.isEmpty()
            ? QStringLiteral("短信中心拒绝发送（CMS %1）").arg(code)
            : QStringLiteral("短信中心拒绝发送：%1（CMS %2）").arg(cause).arg(code);
    }
    if (shortName == QLatin1String("MobileEquipment.Unknown")) {
        const int code = codeIn(errorMessage);
        return code < 0 ? QStringLiteral("短信猫报告了未知错误")
                        : QStringLiteral("短信猫报告了错误（CME %1）").arg(code);
    }
    // The port closed under ModemManager (the modem hung up); it keeps
    // listing the modem.
    if (errorMessage.contains(QLatin1String("forced close"), Qt::CaseInsensitive))
        return QStringLiteral("与短信猫的连接已经断开");
    if (shortName == QLatin1String("Core.Connected")) {
        return errorMessage.contains(QLatin1String("port is connected"))
            ? QStringLiteral("短信猫正在数据连接中，不能发短信")
            : QStringLiteral("无法使用短信猫的端口");
    }
    if (shortName == QLatin1String("Core.Failed")) {
        if (errorMessage.contains(QLatin1String("PolicyKit"), Qt::CaseInsensitive))
            return QStringLiteral("无法向系统（polkit）确认使用短信猫的权限");
        if (errorMessage.contains(QLatin1String("already sent"), Qt::CaseInsensitive))
            return QStringLiteral("这条短信已经发出过");
        return QStringLiteral("短信猫操作失败：") + errorMessage;
    }
    for (const Text &known : Texts) {
        if (shortName == QLatin1String(known.name))
            return QString::fromUtf16(known.text);
    }
    if (errorName.startsWith(Prefix))
        return QStringLiteral("短信猫报告了错误：") + errorMessage;
    return QStringLiteral("与 ModemManager 通信出错：") + errorMessage;
}

} // namespace

namespace ModemErrors {

QString describe(const QString &errorName, const QString &errorMessage)
{
    QString text = reason(errorName, errorMessage.trimmed());
    if (errorName.isEmpty())
        return text;
    return text + QStringLiteral("（%1）").arg(errorName);
}

bool mayHaveLeft(const QString &errorName)
{
    static const QStringList names = {
        QStringLiteral("org.freedesktop.DBus.Error.NoReply"),
        QStringLiteral("org.freedesktop.DBus.Error.Timeout"),
        QStringLiteral("org.freedesktop.DBus.Error.TimedOut"),
        QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
        Prefix + QStringLiteral("Serial.ResponseTimeout"),
        Prefix + QStringLiteral("Core.Cancelled"),
        Prefix + QStringLiteral("Core.Aborted"),
    };
    return names.contains(errorName);
}

} // namespace ModemErrors
