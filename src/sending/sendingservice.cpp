#include "sending/sendingservice.h"

#include "phonelink/kdeconnectphones.h"
#include "sending/modemmanagerlink.h"
#include "sending/optoutreply.h"
#include "sending/phonechannel.h"

#include <memory>

namespace {

// How often the modems are rid of the messages the log is done with, and
// the caps' ledger of what they no longer look at.
constexpr int SweepMs = 60 * 60 * 1000;
// A scheduled batch's time is looked at again at least this often: the
// clock may be set, the computer may have slept.
constexpr qint64 ScheduleCheckMs = 60'000;
// How long recovery waits for ModemManager to name its modems.
constexpr int ModemListWaitMs = 5000;

} // namespace

SendingService::SendingService(Database &database, ModemManagerLink &modems,
                               KdeConnectPhones &phones, Clock clock, QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_modems(modems)
    , m_phones(phones)
    , m_clock(std::move(clock))
    , m_log(database)
    , m_ledger(database)
    , m_inbox(database)
    , m_optOuts(database)
    , m_settings(database)
    , m_scheduleSince(m_clock())
{
    connect(&m_modems, &ModemManagerLink::modemsChanged, this, [this] {
        nameDevices();
        // A modem that came (back) is rid of what the log is done with.
        QSet<QString> present;
        for (const ModemInfo &modem : m_modems.modems())
            present.insert(modem.id);
        if (!(present - m_sweptModems).isEmpty())
            sweepModems();
        m_sweptModems = present;
        emit devicesChanged();
    });
    connect(&m_phones, &KdeConnectPhones::phonesChanged, this, [this] {
        nameDevices();
        emit devicesChanged();
    });
    connect(&m_modems, &ModemManagerLink::messageReceived, this, &SendingService::onModemMessage);
    // The phones hand on what they hold from a little before the newest
    // message kept: what came meanwhile, and nothing twice (the inbox drops
    // a message it has).
    qint64 newest = 0;
    if (m_inbox.newestPhoneStamp(&newest, nullptr) == LogResult::Ok && newest > 0)
        m_phones.setSeenUntil(newest - qint64(24) * 3600 * 1000);
    connect(&m_phones, &KdeConnectPhones::messageReceived, this, &SendingService::onPhoneMessage);
    connect(&m_modems, &ModemManagerLink::statusReport, this, &SendingService::onStatusReport);
    connect(&m_writes, &PendingWrites::written, this, &SendingService::logChanged);
    m_sweep.start(SweepMs);
    connect(&m_sweep, &QTimer::timeout, this, [this] {
        m_ledger.prune(m_clock().addDays(-2), nullptr); // only tidies: kept if it fails
        sweepModems();
    });
    m_schedule.setSingleShot(true);
    connect(&m_schedule, &QTimer::timeout, this, &SendingService::checkSchedule);
}

SendingService::~SendingService() = default;

QList<SendDevice> SendingService::devices() const
{
    QList<SendDevice> devices;
    for (const ModemInfo &modem : m_modems.modems())
        devices.append({BatchSettings::Channel::Modem, modem.id,
                        QStringLiteral("短信猫：%1").arg(modem.label()), modem.simLabel(),
                        modem.canSend()});
    for (const PhoneDevice &phone : m_phones.smsPhones())
        devices.append({BatchSettings::Channel::Phone, phone.id,
                        QStringLiteral("手机（KDE Connect）：%1").arg(phone.name), phone.name, true});
    return devices;
}

SendPlan::Result SendingService::plan(const BatchSettings &settings, int recipients,
                                      const QDateTime &from) const
{
    QList<SendPlan::Device> devices;
    for (const QString &id : settings.deviceIds) {
        SendPlan::Device device;
        // A device whose history cannot be read is planned as if it had none.
        m_ledger.since(id, from.addDays(-1), &device.recent, nullptr);
        devices.append(device);
    }
    return SendPlan::estimate(settings, devices, recipients, from);
}

SendChannel *SendingService::channelFor(BatchSettings::Channel channel, const QString &device)
{
    if (channel == BatchSettings::Channel::Modem)
        return new ModemChannel(m_modems, device);
    return new PhoneChannel(m_phones, device);
}

BatchRunner *SendingService::run(qint64 batch)
{
    if (m_exiting)
        return nullptr;
    if (m_runner && m_runner->batch() == batch)
        return m_runner;
    if (m_runner && m_runner->phase() != BatchRunner::Phase::Finished
        && m_runner->phase() != BatchRunner::Phase::Stopped) {
        if (!m_queue.contains(batch))
            m_queue.append(batch);
        return nullptr;
    }
    m_queue.removeAll(batch);
    BatchSummary summary;
    QString error;
    // Read again by the runner at its start, which says what went wrong.
    m_log.batch(batch, &summary, &error);
    // A batch of an earlier version names its modem by the path it had then:
    // the modem at that path now stands for it.
    for (QString &device : summary.settings.deviceIds) {
        for (const ModemInfo &modem : m_modems.modems()) {
            if (device.startsWith(u'/') && modem.path == device)
                device = modem.id;
        }
    }
    QList<SendChannel *> channels;
    for (const QString &device : std::as_const(summary.settings.deviceIds))
        channels.append(channelFor(summary.settings.channel, device));
    if (m_runner)
        m_runner->deleteLater();
    const BatchServices services{m_log, m_ledger, m_optOuts, m_writes,
                                 [this](const QString &mobile) {
                                     return m_optOutsUnwritten.contains(mobile);
                                 },
                                 m_clock};
    m_runner = new BatchRunner(services, batch, summary.settings, channels, this);
    connect(m_runner, &BatchRunner::phaseChanged, this, [this, runner = m_runner.data()] {
        if (runner == m_runner && (runner->phase() == BatchRunner::Phase::Finished
                                   || runner->phase() == BatchRunner::Phase::Stopped))
            QTimer::singleShot(0, this, &SendingService::startNext);
    });
    emit runnerChanged();
    m_runner->start();
    return m_runner;
}

void SendingService::startNext()
{
    if (m_queue.isEmpty() || m_exiting)
        return;
    if (m_runner && m_runner->phase() != BatchRunner::Phase::Finished
        && m_runner->phase() != BatchRunner::Phase::Stopped)
        return;
    run(m_queue.takeFirst());
}

void SendingService::settleInterrupted(std::function<void()> done)
{
    QList<SendRecord> records;
    QString error;
    if (m_log.sendingRecords(&records, &error) != LogResult::Ok || records.isEmpty()) {
        // Read again at the next start: nothing is sent meanwhile that the
        // offer would not count.
        done();
        return;
    }
    auto left = std::make_shared<qsizetype>(records.size());
    auto finished = std::make_shared<std::function<void()>>(std::move(done));
    const auto settle = [this, left, finished](SendRecord record, bool sent) {
        record.state = sent ? RecordState::Sent : RecordState::Unconfirmed;
        record.note = sent ? QString()
                           : QStringLiteral("程序在发送途中停止，无法确认是否已经发出");
        m_writes.add([this, record](QString *writeError) {
            return m_log.markOutcome(record, writeError);
        });
        if (--*left == 0)
            (*finished)();
    };
    // ModemManager names its modems a moment after the start.
    auto ask = std::make_shared<std::function<void()>>();
    *ask = [this, records, settle] {
        for (const SendRecord &record : records) {
            if (record.smsPath.isEmpty() || !m_modems.modem(record.device)) {
                settle(record, false);
                continue;
            }
            m_modems.readSmsState(record.device, record.smsPath, record.mobile, record.text,
                                  [settle, record](std::optional<uint> state) {
                                      settle(record, state == ModemManagerLink::Sent);
                                  });
        }
    };
    const bool onModems = std::any_of(records.cbegin(), records.cend(), [](const SendRecord &record) {
        return !record.smsPath.isEmpty();
    });
    if (!onModems || m_modems.hasAnswered()) {
        (*ask)();
        return;
    }
    auto asked = std::make_shared<bool>(false);
    const auto once = [ask, asked] {
        if (!*asked) {
            *asked = true;
            (*ask)();
        }
    };
    connect(&m_modems, &ModemManagerLink::modemsChanged, this, once, Qt::SingleShotConnection);
    QTimer::singleShot(ModemListWaitMs, this, once);
}

void SendingService::discardBatch(qint64 batch)
{
    m_writes.add([this, batch](QString *error) { return m_log.deleteBatch(batch, error); });
}

void SendingService::stopForExit()
{
    m_exiting = true;
    m_schedule.stop();
    if (m_runner)
        m_runner->stopForExit();
}

void SendingService::onModemMessage(const QString &modemId, const QString &number,
                                    const QString &text, const QString &stamp,
                                    const QString &smsPath)
{
    takeReply(modemId, number, text, stamp, smsPath);
}

void SendingService::onPhoneMessage(const QString &phoneId, const QString &number,
                                    const QString &text, const QString &stamp)
{
    takeReply(phoneId, number, text, stamp, QString());
}

void SendingService::takeReply(const QString &device, const QString &number,
                               const QString &text, const QString &stamp,
                               const QString &smsPath)
{
    const QDateTime now = m_clock();
    const bool refusal = isOptOutReply(text);
    if (refusal)
        m_optOutsUnwritten.insert(number); // from now on, whatever the file does
    m_writes.add(
        [this, device, number, text, stamp, now, smsPath](QString *error) {
            bool added = false;
            return m_inbox.add(device, number, text, stamp, now, smsPath, &added, error);
        },
        [this, refusal, number, now, device, smsPath] {
            const auto removeFromModem = [this, device, smsPath] {
                // The log holds it now: the SIM's room is freed for the next.
                if (!smsPath.isEmpty())
                    m_modems.deleteSms(device, smsPath);
            };
            if (!refusal) {
                removeFromModem();
                return;
            }
            m_writes.add(
                [this, number, now](QString *error) {
                    return m_optOuts.add({number}, QStringLiteral("短信回复"), now, nullptr, error);
                },
                [this, number, removeFromModem] {
                    m_optOutsUnwritten.remove(number);
                    removeFromModem();
                });
        });
}

void SendingService::onStatusReport(const QString &modemId, const QString &number,
                                    qint64 reference, bool delivered, const QString &reportPath)
{
    auto found = std::make_shared<SendRecord>();
    m_writes.add(
        [this, modemId, number, reference, delivered, found](QString *error) {
            return m_log.applyDeliveryReport(modemId, number, reference, delivered, found.get(),
                                             error);
        },
        [this, modemId, reportPath, found] {
            if (!reportPath.isEmpty())
                m_modems.deleteSms(modemId, reportPath);
            if (found->id > 0)
                removeSent(*found);
        });
}

void SendingService::removeSent(const SendRecord &record)
{
    if (record.smsPath.isEmpty())
        return;
    // Paths start again after ModemManager restarts: only the message with
    // this number and text is the record's.
    m_modems.readSmsState(record.device, record.smsPath, record.mobile, record.text,
                          [this, record](std::optional<uint> state) {
                              if (state)
                                  m_modems.deleteSms(record.device, record.smsPath);
                              m_writes.add([this, id = record.id](QString *error) {
                                  return m_log.clearPath(id, error);
                              });
                          });
}

void SendingService::sweepModems()
{
    const QDateTime dayAgo = m_clock().addDays(-1);
    for (const ModemInfo &modem : m_modems.modems()) {
        QList<SendRecord> settled;
        if (m_log.settledOnDevice(modem.id, dayAgo, &settled, nullptr) != LogResult::Ok)
            continue; // the next sweep tries again
        for (const SendRecord &record : std::as_const(settled))
            removeSent(record);
    }
}

void SendingService::nameDevices()
{
    for (const SendDevice &device : devices()) {
        if (m_named.value(device.id) == device.shortLabel)
            continue;
        m_named.insert(device.id, device.shortLabel);
        m_writes.add([this, device](QString *error) {
            return m_log.nameDevice(device.id, device.shortLabel, error);
        });
    }
}

void SendingService::scheduleChanged()
{
    checkSchedule();
}

void SendingService::checkSchedule()
{
    if (m_exiting)
        return;
    QList<BatchSummary> scheduled;
    if (m_log.scheduledBatches(&scheduled, nullptr) != LogResult::Ok) {
        m_schedule.start(PendingWrites::BusyRetryMs);
        return;
    }
    const QDateTime now = m_clock();
    qint64 nextMs = ScheduleCheckMs;
    for (const BatchSummary &batch : std::as_const(scheduled)) {
        if (batch.scheduledAt < m_scheduleSince)
            continue; // missed while the program was not running: offered at start
        if (batch.scheduledAt <= now) {
            const qint64 id = batch.id;
            if (m_starting.contains(id))
                continue;
            m_starting.insert(id);
            m_writes.add(
                [this, id](QString *error) {
                    return m_log.setStatus(id, BatchStatus::Running, error);
                },
                [this, id] {
                    m_starting.remove(id);
                    run(id);
                    emit scheduledStarted(id);
                });
            continue;
        }
        nextMs = std::min(nextMs, now.msecsTo(batch.scheduledAt));
    }
    m_schedule.start(int(std::max<qint64>(nextMs, 0)));
}
