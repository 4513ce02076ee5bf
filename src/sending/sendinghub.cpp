#include "sending/sendinghub.h"

#include "phonelink/kdeconnectphones.h"
#include "sending/modemmanagerlink.h"
#include "sending/phonechannel.h"

#include <memory>

namespace {

constexpr int BusyRetryMs = 500;

} // namespace

SendingHub::SendingHub(Database &database, const QDBusConnection &systemBus,
                       const QDBusConnection &sessionBus, BatchRunner::Clock clock, QObject *parent)
    : QObject(parent)
    , m_log(database)
    , m_clock(std::move(clock))
    , m_modems(new ModemManagerLink(systemBus, this))
    , m_phones(new KdeConnectPhones(sessionBus, this))
{
    connect(m_modems, &ModemManagerLink::modemsChanged, this, &SendingHub::devicesChanged);
    connect(m_phones, &KdeConnectPhones::phonesChanged, this, &SendingHub::devicesChanged);
    connect(m_modems, &ModemManagerLink::messageReceived, this, &SendingHub::onReceived);
    connect(m_modems, &ModemManagerLink::statusReport, this, &SendingHub::onStatusReport);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &SendingHub::flushWrites);
}

SendingHub::~SendingHub() = default;

QList<SendDevice> SendingHub::devices() const
{
    QList<SendDevice> devices;
    for (const ModemInfo &modem : m_modems->modems())
        devices.append({BatchSettings::Channel::Modem, modem.id,
                        QStringLiteral("短信猫：%1").arg(modem.label())});
    for (const PhoneDevice &phone : m_phones->phones())
        devices.append({BatchSettings::Channel::Phone, phone.id,
                        QStringLiteral("手机（KDE Connect）：%1").arg(phone.name)});
    return devices;
}

BatchRunner *SendingHub::makeRunner(qint64 batch, const BatchSettings &settings,
                                    const SendDevice &device)
{
    if (m_runner)
        m_runner->deleteLater();
    SendChannel *channel = nullptr;
    if (device.channel == BatchSettings::Channel::Modem)
        channel = new ModemChannel(*m_modems, device.id);
    else
        channel = new PhoneChannel(*m_phones, device.id);
    BatchSettings used = settings;
    used.channel = device.channel;
    used.deviceId = device.id;
    m_runner = new BatchRunner(m_log, batch, used, channel, m_clock, this);
    channel->setParent(m_runner);
    emit runnerChanged();
    return m_runner;
}

void SendingHub::settleInterrupted(std::function<void()> done)
{
    QList<SendRecord> records;
    m_log.sendingRecords(&records, nullptr);
    auto left = std::make_shared<qsizetype>(records.size());
    auto finished = std::make_shared<std::function<void()>>(std::move(done));
    const auto settle = [this, left, finished](SendRecord record, RecordState state,
                                               const QString &note) {
        record.state = state;
        record.note = note;
        if (state == RecordState::Waiting) {
            record.smsPath.clear();
            record.time.clear();
        }
        writeSoon([this, record] { return m_log.markOutcome(record, nullptr); });
        if (--*left == 0)
            (*finished)();
    };
    if (records.isEmpty()) {
        (*finished)();
        return;
    }
    const QString unknown = QStringLiteral("程序在发送途中停止，无法确认是否已经发出");
    for (const SendRecord &record : std::as_const(records)) {
        BatchSummary summary;
        if (record.smsPath.isEmpty() || !m_log.batch(record.batch, &summary, nullptr)) {
            settle(record, RecordState::Unconfirmed, unknown);
            continue;
        }
        // A message made on the modem stays Unknown until it was sent, also
        // while ModemManager is still sending it: only Sent tells.
        m_modems->readSmsState(summary.settings.deviceId, record.smsPath, record.mobile,
                               record.text, [settle, record, unknown](std::optional<uint> state) {
                                   if (state == ModemManagerLink::Sent)
                                       settle(record, RecordState::Sent, QString());
                                   else
                                       settle(record, RecordState::Unconfirmed, unknown);
                               });
    }
}

bool SendingHub::isOptOutReply(const QString &text)
{
    static const QStringList words = {QStringLiteral("t"), QStringLiteral("td"),
                                      QStringLiteral("n"), QStringLiteral("退订"),
                                      QStringLiteral("取消")};
    return words.contains(text.trimmed().toCaseFolded());
}

void SendingHub::onReceived(const QString &, const QString &number, const QString &text,
                            const QString &stamp, const QString &smsPath)
{
    const QDateTime now = m_clock();
    writeSoon([this, number, text, stamp, now, smsPath] {
        return m_log.addReceived(number, text, stamp, now, smsPath, nullptr);
    });
    if (isOptOutReply(text)) {
        writeSoon([this, number, now] {
            return m_log.addOptOuts({number}, QStringLiteral("短信回复"), now, nullptr, nullptr);
        });
    }
}

void SendingHub::onStatusReport(const QString &, const QString &number, qint64 reference,
                                bool delivered, const QString &)
{
    writeSoon([this, number, reference, delivered] {
        bool found = false;
        return m_log.applyDeliveryReport(number, reference, delivered, &found, nullptr);
    });
}

void SendingHub::discardBatch(qint64 batch)
{
    writeSoon([this, batch] { return m_log.deleteBatch(batch, nullptr); });
}

void SendingHub::writeSoon(std::function<LogWrite()> write)
{
    m_pendingWrites.append(std::move(write));
    flushWrites();
}

void SendingHub::flushWrites()
{
    bool wrote = false;
    while (!m_pendingWrites.isEmpty()) {
        if (m_pendingWrites.first()() == LogWrite::Busy) {
            m_retry.start(BusyRetryMs);
            break;
        }
        // A write that failed for good is dropped: the log cannot take it.
        m_pendingWrites.removeFirst();
        wrote = true;
    }
    if (wrote)
        emit logChanged();
}
