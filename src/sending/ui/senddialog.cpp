#include "sending/ui/senddialog.h"

#include "core/smslength.h"
#include "desktop/messagebox.h"
#include "dialogs/commandrunner.h"
#include "sending/preparebatchcommand.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int MaxInterval = 3600;
constexpr int MaxCap = 1'000'000;
constexpr int BusyRetryMs = 500;
const QString OptOutSetting = QStringLiteral("回T退订");

struct Pace
{
    int interval;
    int perHour;
    int perDay;
};
// The point-to-point limits operators apply before they close a SIM's SMS;
// a phone goes slower, as Android asks the user to confirm a quick series.
constexpr Pace ModemPace{20, 200, 1000};
constexpr Pace PhonePace{30, 0, 0};

QString durationText(qint64 seconds)
{
    if (seconds < 0)
        return QStringLiteral("未知");
    if (seconds < 60)
        return QStringLiteral("约 %1 秒").arg(seconds);
    const qint64 minutes = (seconds + 59) / 60;
    if (minutes < 60)
        return QStringLiteral("约 %1 分钟").arg(minutes);
    const qint64 hours = minutes / 60;
    if (hours < 48)
        return QStringLiteral("约 %1 小时 %2 分钟").arg(hours).arg(minutes % 60);
    return QStringLiteral("约 %1 天 %2 小时").arg(hours / 24).arg(hours % 24);
}

QSpinBox *spinBox(const QString &name, int maximum, QWidget *parent)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setAccessibleName(name);
    box->setRange(0, maximum);
    return box;
}

} // namespace

SendDialog::SendDialog(SendingHub &hub, CommandRunner &commands, QWidget *parent)
    : QDialog(parent)
    , m_hub(hub)
    , m_commands(commands)
{
    setObjectName(QStringLiteral("SendDialog"));
    setWindowTitle(QStringLiteral("直接发送短信"));
    setModal(false);
    build();
    loadRemembered();
    m_busyRetry.setSingleShot(true);
    connect(&m_busyRetry, &QTimer::timeout, this, &SendDialog::tryCreateBatch);
    connect(&hub, &SendingHub::devicesChanged, this, &SendDialog::fillDevices);
    fillDevices();
}

void SendDialog::build()
{
    auto *layout = new QVBoxLayout(this);

    auto *form = new QFormLayout;
    m_devices = new QComboBox(this);
    m_devices->setObjectName(QStringLiteral("发送方式"));
    m_devices->setAccessibleName(QStringLiteral("发送方式"));
    m_devices->setMinimumWidth(420);
    form->addRow(QStringLiteral("发送方式(&M)："), m_devices);
    m_noDevice = new QLabel(this);
    m_noDevice->setObjectName(QStringLiteral("noDevice"));
    m_noDevice->setWordWrap(true);
    m_noDevice->setText(QStringLiteral(
        "没有找到可用的短信猫或手机。使用短信猫：请安装并启动 ModemManager，插上短信猫并放好 SIM 卡。"
        "使用自己的手机：请在电脑和安卓手机上都安装 KDE Connect，并把手机与电脑配对。"));
    form->addRow(m_noDevice);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("收信人"));
    m_summary->setWordWrap(true);
    form->addRow(QStringLiteral("收信人："), m_summary);
    m_warning = new QLabel(this);
    m_warning->setObjectName(QStringLiteral("warning"));
    m_warning->setWordWrap(true);
    m_warning->setStyleSheet(QStringLiteral("color: #a05000;"));
    form->addRow(m_warning);
    m_preview = new QPlainTextEdit(this);
    m_preview->setObjectName(QStringLiteral("preview"));
    m_preview->setAccessibleName(QStringLiteral("第一位收信人收到的短信"));
    m_preview->setReadOnly(true);
    m_preview->setFixedHeight(80);
    form->addRow(QStringLiteral("第一位收到："), m_preview);
    m_length = new QLabel(this);
    m_length->setObjectName(QStringLiteral("length"));
    form->addRow(QString(), m_length);
    m_optOutLine = new QCheckBox(QStringLiteral("末尾加上“回T退订”(&T)"), this);
    m_optOutLine->setObjectName(QStringLiteral("optOutLine"));
    form->addRow(QString(), m_optOutLine);
    layout->addLayout(form);

    auto *pace = new QGroupBox(QStringLiteral("速度"), this);
    auto *paceForm = new QFormLayout(pace);
    m_interval = spinBox(QStringLiteral("每条间隔（秒）"), MaxInterval, pace);
    m_perHour = spinBox(QStringLiteral("每小时最多"), MaxCap, pace);
    m_perDay = spinBox(QStringLiteral("每天最多"), MaxCap, pace);
    m_perHour->setSpecialValueText(QStringLiteral("不限"));
    m_perDay->setSpecialValueText(QStringLiteral("不限"));
    paceForm->addRow(QStringLiteral("每条间隔（秒）(&I)："), m_interval);
    paceForm->addRow(QStringLiteral("每小时最多(&H)："), m_perHour);
    paceForm->addRow(QStringLiteral("每天最多(&D)："), m_perDay);
    auto *window = new QHBoxLayout;
    m_windowOn = new QCheckBox(QStringLiteral("只在此时段内发送(&W)"), pace);
    m_windowOn->setObjectName(QStringLiteral("只在此时段内发送"));
    m_windowOn->setChecked(true);
    m_windowStart = new QTimeEdit(QTime(8, 0), pace);
    m_windowStart->setObjectName(QStringLiteral("windowStart"));
    m_windowStart->setAccessibleName(QStringLiteral("时段开始"));
    m_windowStart->setDisplayFormat(QStringLiteral("HH:mm"));
    m_windowEnd = new QTimeEdit(QTime(21, 0), pace);
    m_windowEnd->setObjectName(QStringLiteral("windowEnd"));
    m_windowEnd->setAccessibleName(QStringLiteral("时段结束"));
    m_windowEnd->setDisplayFormat(QStringLiteral("HH:mm"));
    window->addWidget(m_windowOn);
    window->addWidget(m_windowStart);
    window->addWidget(new QLabel(QStringLiteral("至"), pace));
    window->addWidget(m_windowEnd);
    window->addStretch();
    paceForm->addRow(window);
    m_help = new QLabel(pace);
    m_help->setObjectName(QStringLiteral("help"));
    m_help->setWordWrap(true);
    paceForm->addRow(m_help);
    layout->addWidget(pace);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setAccessibleName(QStringLiteral("发送进度"));
    layout->addWidget(m_progress);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    // Room for the counts and what the batch waits for, so the dialog does
    // not jump as they come and go.
    m_status->setMinimumHeight(m_status->fontMetrics().lineSpacing() * 3);
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(m_status);

    auto *buttons = new QHBoxLayout;
    m_start = new QPushButton(QStringLiteral("开始发送(&S)"), this);
    m_start->setObjectName(QStringLiteral("开始发送"));
    m_pause = new QPushButton(QStringLiteral("暂停(&P)"), this);
    m_pause->setObjectName(QStringLiteral("暂停"));
    m_stop = new QPushButton(QStringLiteral("停止(&O)"), this);
    m_stop->setObjectName(QStringLiteral("停止"));
    m_close = new QPushButton(QStringLiteral("关闭(&C)"), this);
    m_close->setObjectName(QStringLiteral("关闭"));
    buttons->addStretch();
    for (QPushButton *button : {m_start, m_pause, m_stop, m_close}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);

    connect(m_devices, &QComboBox::currentIndexChanged, this, &SendDialog::deviceChosen);
    connect(m_optOutLine, &QCheckBox::toggled, this, [this] {
        remember();
        recompute();
    });
    connect(m_windowOn, &QCheckBox::toggled, m_windowStart, &QWidget::setEnabled);
    connect(m_windowOn, &QCheckBox::toggled, m_windowEnd, &QWidget::setEnabled);
    connect(m_start, &QPushButton::clicked, this, &SendDialog::startSending);
    connect(m_pause, &QPushButton::clicked, this, [this] {
        if (!m_runner)
            return;
        if (m_runner->phase() == BatchRunner::Phase::Paused
            || m_runner->phase() == BatchRunner::Phase::Stopped)
            m_runner->resume();
        else
            m_runner->pause();
    });
    connect(m_stop, &QPushButton::clicked, this, [this] {
        if (m_runner)
            m_runner->stop();
    });
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
}

void SendDialog::loadRemembered()
{
    m_optOutLine->setChecked(m_hub.log().setting(OptOutSetting) == QLatin1String("1"));
}

void SendDialog::remember()
{
    m_hub.log().setSetting(OptOutSetting,
                           m_optOutLine->isChecked() ? QStringLiteral("1") : QStringLiteral("0"),
                           nullptr);
}

void SendDialog::fillDevices()
{
    const QString previous = m_devices->currentData().toString();
    const QList<SendDevice> devices = m_hub.devices();
    const QSignalBlocker blocker(m_devices);
    m_devices->clear();
    for (const SendDevice &device : devices)
        m_devices->addItem(device.label, device.id);
    const QString wanted = previous.isEmpty() ? m_continuedSettings.deviceId : previous;
    const int index = m_devices->findData(wanted);
    m_devices->setCurrentIndex(index >= 0 ? index : (devices.isEmpty() ? -1 : 0));
    m_noDevice->setVisible(devices.isEmpty());
    deviceChosen();
}

std::optional<SendDevice> SendDialog::chosenDevice() const
{
    const QString id = m_devices->currentData().toString();
    for (const SendDevice &device : m_hub.devices()) {
        if (device.id == id)
            return device;
    }
    return std::nullopt;
}

void SendDialog::deviceChosen()
{
    const std::optional<SendDevice> device = chosenDevice();
    const bool phone = device && device->channel == BatchSettings::Channel::Phone;
    if (device && (device->id != m_lastDeviceId) && !m_runner && m_continuedBatch == 0
        && (m_lastDeviceId.isEmpty() || phone != m_lastWasPhone)) {
        const Pace pace = phone ? PhonePace : ModemPace;
        m_interval->setValue(pace.interval);
        m_perHour->setValue(pace.perHour);
        m_perDay->setValue(pace.perDay);
    }
    if (device) {
        m_lastDeviceId = device->id;
        m_lastWasPhone = phone;
    }
    m_help->setText(
        phone ? QStringLiteral("经手机发送：短信由手机用自己的 SIM 卡发出，程序只能记下“已交给手机”。"
                               "安卓手机在短时间内发出约 30 条短信后会请你在手机上确认，请留意手机屏幕。")
              : QStringLiteral("经短信猫发送：运营商对点对点短信有频率限制（常见为每小时 200 条、每天 1000 条），"
                               "超出会被关停短信功能。"));
    updateButtons();
}

void SendDialog::prepare(const ContactList &contacts, const QString &text)
{
    if (m_preparing)
        return;
    if (m_runner) {
        // A batch that ended makes room for a new one; one that runs or
        // waits to be continued keeps the dialog.
        const BatchRunner::Phase phase = m_runner->phase();
        if (phase != BatchRunner::Phase::Finished && phase != BatchRunner::Phase::Stopped)
            return;
        detachRunner();
    }
    m_contacts = contacts;
    m_text = text;
    m_continuedBatch = 0;
    m_optOutLine->setEnabled(true);
    recompute();
}

void SendDialog::prepareContinuation(qint64 batch)
{
    if (m_preparing)
        return;
    if (m_runner && m_runner->isActive())
        return;
    BatchSummary summary;
    QString error;
    if (!m_hub.log().batch(batch, &summary, &error)) {
        MessageBox::warning(this, error);
        return;
    }
    if (m_runner)
        detachRunner();
    m_contacts.clear();
    m_continuedBatch = batch;
    m_continuedSettings = summary.settings;
    m_continuedWaiting = summary.count(RecordState::Waiting);
    m_text = summary.settings.text;
    m_optOutLine->setChecked(summary.settings.optOutLine);
    m_optOutLine->setEnabled(false);
    m_interval->setValue(summary.settings.intervalSeconds);
    m_perHour->setValue(summary.settings.perHour);
    m_perDay->setValue(summary.settings.perDay);
    m_windowOn->setChecked(summary.settings.windowOn);
    if (summary.settings.windowOn) {
        m_windowStart->setTime(summary.settings.windowStart);
        m_windowEnd->setTime(summary.settings.windowEnd);
    }
    const int index = m_devices->findData(summary.settings.deviceId);
    if (index >= 0)
        m_devices->setCurrentIndex(index);
    recompute();
}

void SendDialog::recompute()
{
    if (m_continuedBatch > 0) {
        m_recipients = BatchRecipients();
        m_summary->setText(
            QStringLiteral("继续这次发送：还有 %1 人没有发出。").arg(m_continuedWaiting));
        m_warning->clear();
        m_preview->setPlainText(m_text);
        m_length->clear();
        updateButtons();
        return;
    }
    QSet<QString> optOuts;
    QString error;
    if (!m_hub.log().optOutNumbers(&optOuts, &error))
        m_warning->setText(error);
    m_recipients = BatchRecipients::select(m_contacts, m_text, m_optOutLine->isChecked(), optOuts);
    m_summary->setText(m_recipients.summary());
    m_warning->setText(m_recipients.placeholderWarning());
    showPreview();
    updateButtons();
}

void SendDialog::showPreview()
{
    if (m_recipients.recipients.isEmpty()) {
        m_preview->clear();
        m_length->clear();
        return;
    }
    const QString &first = m_recipients.recipients.first().text;
    m_preview->setPlainText(first);
    m_length->setText(QStringLiteral("%1；整批共 %2 条")
                          .arg(SmsLength::describe(first))
                          .arg(m_recipients.totalParts));
}

BatchSettings SendDialog::settings() const
{
    BatchSettings settings = m_continuedBatch > 0 ? m_continuedSettings : BatchSettings();
    if (const std::optional<SendDevice> device = chosenDevice()) {
        settings.channel = device->channel;
        settings.deviceId = device->id;
        settings.deviceName = device->label;
    }
    if (m_continuedBatch == 0) {
        settings.text = m_text;
        settings.optOutLine = m_optOutLine->isChecked();
    }
    settings.intervalSeconds = m_interval->value();
    settings.perHour = m_perHour->value();
    settings.perDay = m_perDay->value();
    settings.windowOn = m_windowOn->isChecked();
    settings.windowStart = m_windowStart->time();
    settings.windowEnd = m_windowEnd->time();
    return settings;
}

void SendDialog::startSending()
{
    if (m_runner || !chosenDevice())
        return;
    if (m_continuedBatch == 0 && m_recipients.recipients.isEmpty())
        return;
    tryCreateBatch();
}

void SendDialog::tryCreateBatch()
{
    const std::optional<SendDevice> device = chosenDevice();
    if (!device || m_runner || m_preparing)
        return;
    // What the batch is written with is what it is sent with, whatever the
    // controls do meanwhile.
    const BatchSettings chosen = settings();
    qint64 batch = m_continuedBatch;
    if (batch == 0) {
        const QPointer<SendDialog> self(this);
        batch = writeNewBatch(chosen);
        if (!self || batch == 0)
            return;
        const QList<SendDevice> present = m_hub.devices();
        if (std::none_of(present.begin(), present.end(),
                         [&device](const SendDevice &each) { return each.id == device->id; })) {
            m_hub.discardBatch(batch);
            MessageBox::warning(this, QStringLiteral("发送设备“%1”已断开，短信没有发出。")
                                          .arg(device->label));
            return;
        }
    }
    attachRunner(m_hub.makeRunner(batch, chosen, *device));
    m_runner->start();
}

qint64 SendDialog::writeNewBatch(const BatchSettings &chosen)
{
    auto command = std::make_shared<PrepareBatchCommand>(
        m_hub.log().databasePath(), chosen, m_recipients.recipients, m_hub.clock()());
    // A cancel that comes while the rows are being committed is too late to
    // stop them: the batch that then appears is taken out again.
    connect(command.get(), &Command::finished, &m_hub, [hub = &m_hub, done = command.get()] {
        if (done->progress().isCancelled() && done->batch() > 0)
            hub->discardBatch(done->batch());
    });
    m_preparing = true;
    lockControls(true);
    updateButtons();
    SendingHub &hub = m_hub;
    const QPointer<SendDialog> self(this);
    const bool written = m_commands.run(command);
    if (!self) {
        // Nobody is left to send the batch.
        if (written)
            hub.discardBatch(command->batch());
        return 0;
    }
    m_preparing = false;
    lockControls(false);
    updateButtons();
    if (written)
        return command->batch();
    if (!command->isRunning() && !command->isFinished()) {
        // Another long piece of work runs: the batch is written after it.
        m_status->setText(QStringLiteral("另一项工作正在进行，稍后自动开始…"));
        m_busyRetry.start(BusyRetryMs);
    } else if (command->isFinished() && command->wasBusy()) {
        m_status->setText(QStringLiteral("数据库正忙，稍后自动重试…"));
        m_busyRetry.start(BusyRetryMs);
    } else if (!command->wasCancelled()) {
        MessageBox::warning(this, command->error());
    }
    return 0;
}

void SendDialog::detachRunner()
{
    disconnect(m_runner, nullptr, this, nullptr);
    m_runner = nullptr;
    lockControls(false);
    m_progress->reset();
    m_status->clear();
}

void SendDialog::attachRunner(BatchRunner *runner)
{
    m_runner = runner;
    connect(runner, &BatchRunner::progressChanged, this, &SendDialog::showProgress);
    connect(runner, &BatchRunner::phaseChanged, this, &SendDialog::showProgress);
    connect(runner, &QObject::destroyed, this, [this, runner] {
        if (m_runner == runner)
            m_runner = nullptr;
        updateButtons();
    });
    lockControls(true);
    showProgress();
}

void SendDialog::lockControls(bool locked)
{
    for (QWidget *control : std::initializer_list<QWidget *>{
             m_devices, m_optOutLine, m_interval, m_perHour, m_perDay, m_windowOn})
        control->setEnabled(!locked);
    m_windowStart->setEnabled(!locked && m_windowOn->isChecked());
    m_windowEnd->setEnabled(!locked && m_windowOn->isChecked());
}

void SendDialog::showProgress()
{
    if (!m_runner)
        return;
    const BatchRunner::Progress progress = m_runner->progress();
    const int total = progress.sent + progress.failed + progress.unconfirmed + progress.remaining;
    m_progress->setRange(0, std::max(total, 1));
    m_progress->setValue(total - progress.remaining);
    QString text = QStringLiteral("已发送 %1，失败 %2，剩余 %3")
                       .arg(progress.sent)
                       .arg(progress.failed)
                       .arg(progress.remaining);
    if (progress.remaining > 0)
        text += QStringLiteral("，预计还需 %1").arg(durationText(m_runner->secondsLeft()));
    if (!m_runner->statusText().isEmpty())
        text += u'\n' + m_runner->statusText();
    m_status->setText(text);
    updateButtons();
}

void SendDialog::updateButtons()
{
    const bool started = m_runner != nullptr;
    const bool hasWork = m_continuedBatch > 0 ? m_continuedWaiting > 0
                                              : !m_recipients.recipients.isEmpty();
    m_start->setEnabled(!started && !m_preparing && hasWork && chosenDevice().has_value());
    const BatchRunner::Phase phase = started ? m_runner->phase() : BatchRunner::Phase::Idle;
    const bool halted = phase == BatchRunner::Phase::Paused || phase == BatchRunner::Phase::Stopped;
    m_pause->setText(halted ? QStringLiteral("继续(&P)") : QStringLiteral("暂停(&P)"));
    m_pause->setEnabled(started && phase != BatchRunner::Phase::Finished);
    m_stop->setEnabled(started && !halted && phase != BatchRunner::Phase::Finished);
}

void SendDialog::closeEvent(QCloseEvent *event)
{
    // Closing while the batch is being written is its 取消.
    if (m_preparing)
        m_commands.cancel();
    m_busyRetry.stop();
    if (m_runner && m_runner->isActive()) {
        if (!MessageBox::askYesNo(this, QStringLiteral("正在发送短信，是否停止发送？"))) {
            event->ignore();
            return;
        }
        m_runner->stop();
    }
    event->accept();
}
