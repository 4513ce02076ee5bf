#pragma once

#include <QMap>
#include <QString>
#include <QVariantMap>

// A modem as ModemManager describes it.
struct ModemInfo
{
    // How far the modem is from sending.
    enum class Readiness {
        Ready,     // enabled, registered, with messaging
        Disabled,  // can be enabled (the link enables it before it sends)
        Busy,      // initialising, enabling or disabling
        Locked,    // the SIM wants its PIN or PUK
        NoSim,     // no SIM card
        NoNetwork, // enabled, not registered with a network
        Failed,    // anything else that keeps it from sending
    };

    QString path; // its object path right now
    // What stays when ModemManager finds the modem again under a new path:
    // "iccid:<the SIM's ICCID>", else "imei:<IMEI>", else
    // "device:<ModemManager's device identifier>". The log, the caps and a
    // batch keep this.
    QString id;
    QString iccid;
    QString imei;
    QString ownNumber; // the first of the SIM's own numbers, "" when unknown
    QString manufacturer;
    QString model;
    QString operatorName;
    int signalPercent = -1; // -1 when not known
    int state = 0;          // ModemManager's modem state
    Readiness readiness = Readiness::Failed;
    QString problem; // why it is not ready, for the user; "" when Ready

    // Ready or Disabled (the link enables a disabled modem itself).
    bool canSend() const;
    // "制造商 型号（运营商，尾号 5678，信号 64%）", then "：<problem>" when not ready.
    QString label() const;
    // The SIM in short, for the log: the operator and the last four digits of
    // the own number, else of the ICCID ("中国移动 尾号 5678").
    QString simLabel() const;
    // The last four digits of the own number, else of the ICCID.
    QString simDigits() const;

    bool operator==(const ModemInfo &other) const = default;

    // ModemManager's modem states that matter here.
    static constexpr int StateFailed = -1;
    static constexpr int StateLocked = 2;
    static constexpr int StateDisabled = 3;
    static constexpr int StateDisabling = 4;
    static constexpr int StateEnabling = 5;
    static constexpr int StateEnabled = 6;
    static constexpr int StateRegistered = 8;

    // The modem from its object's interfaces (name → properties) and its
    // SIM's properties (empty when it has none).
    static ModemInfo fromProperties(const QString &path,
                                    const QMap<QString, QVariantMap> &interfaces,
                                    const QVariantMap &sim);
};
