#include "sending/ui/senddialog.h"

#include "core/smslength.h"
#include "desktop/messagebox.h"
#include "sending/batchstarter.h"
#include "sending/sendingservice.h"
#include "sending/ui/batchprogressview.h"
#include "sending/ui/devicepicker.h"
#include "sending/ui/paceeditor.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString OptOutSetting = QStringLiteral("回T退订");
const QString DevicesSetting = QStringLiteral("发送方式");
// A personal text longer than this many messages is asked about once.
constexpr qsizetype LongTextParts = 5;

} // namespace

SendDialog::SendDialog(SendingService &service, BatchStarter &starter, QWidget *parent)
    : QDialog(parent)
    , m_service(service)
    , m_starter(starter)
{
    setObjectName(QStringLiteral("SendDialog"));
    setWindowTitle(QStringLiteral("直接发送短信"));
    setModal(false);
    build();
    m_optOutLine->setChecked(m_service.settings().value(OptOutSetting) == QLatin1String("1"));
    connect(&service, &SendingService::devicesChanged, this, &SendDialog::devicesChanged);
    connect(&starter, &BatchStarter::writingChanged, this, [this] {
        m_progress->showNote(m_starter.waitText());
        updateButtons();
    });
    devicesChanged();
    m_devices->choose(BatchSettings::devicesFromText(m_service.settings().value(DevicesSetting)));
}

void SendDialog::build()
{
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    m_devices = new DevicePicker(this);
    form->addRow(QStringLiteral("发送方式(&M)："), m_devices);
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

    m_pace = new PaceEditor(this);
    layout->addWidget(m_pace);
    m_help = new QLabel(this);
    m_help->setObjectName(QStringLiteral("help"));
    m_help->setWordWrap(true);
    layout->addWidget(m_help);
    m_estimate = new QLabel(this);
    m_estimate->setObjectName(QStringLiteral("estimate"));
    layout->addWidget(m_estimate);
    m_progress = new BatchProgressView(this);
    layout->addWidget(m_progress);

    auto *buttons = new QHBoxLayout;
    const auto button = [this](const QString &caption, const QString &name) {
        auto *pushButton = new QPushButton(caption, this);
        pushButton->setObjectName(name);
        pushButton->setAutoDefault(false);
        return pushButton;
    };
    m_start = button(QStringLiteral("开始发送(&S)"), QStringLiteral("开始发送"));
    m_pause = button(QStringLiteral("暂停(&P)"), QStringLiteral("暂停"));
    m_stop = button(QStringLiteral("停止(&O)"), QStringLiteral("停止"));
    m_close = button(QStringLiteral("关闭(&C)"), QStringLiteral("关闭"));
    buttons->addStretch();
    for (QPushButton *each : {m_start, m_pause, m_stop, m_close})
        buttons->addWidget(each);
    layout->addLayout(buttons);

    connect(m_devices, &DevicePicker::choiceChanged, this, &SendDialog::choiceChanged);
    connect(m_optOutLine, &QCheckBox::toggled, this, [this] {
        m_service.settings().setValue(OptOutSetting,
                                      m_optOutLine->isChecked() ? QStringLiteral("1")
                                                                : QStringLiteral("0"),
                                      nullptr); // a choice not remembered is made again
        recompute();
    });
    connect(m_pace, &PaceEditor::changed, this, &SendDialog::showEstimate);
    connect(m_start, &QPushButton::clicked, this, &SendDialog::startSending);
    connect(m_pause, &QPushButton::clicked, this, [this] {
        if (!m_runner)
            return;
        const BatchRunner::Phase phase = m_runner->phase();
        if (phase == BatchRunner::Phase::Paused || phase == BatchRunner::Phase::Stopped)
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

void SendDialog::devicesChanged()
{
    m_devices->setDevices(m_service.devices());
    updateButtons();
}

void SendDialog::choiceChanged()
{
    const DevicePicker::Choice choice = m_devices->choice();
    if (!choice.ids.isEmpty() && !m_runner) {
        if (!m_paceChosen || choice.channel != m_lastChannel)
            m_pace->useDefaultsFor(choice.channel);
        m_paceChosen = true;
        m_lastChannel = choice.channel;
        m_service.settings().setValue(DevicesSetting, choice.ids.join(u';'), nullptr);
    }
    const bool phone = choice.channel == BatchSettings::Channel::Phone;
    m_help->setText(
        phone ? QStringLiteral("经手机发送：短信由手机用自己的 SIM 卡发出，程序只能记下“已交给手机”。"
                               "安卓手机在短时间内发出约 30 条短信后会请你在手机上确认，请留意手机屏幕。")
              : QStringLiteral("经短信猫发送：运营商对点对点短信有频率限制（常见为每张 SIM 卡每小时 200 条、每天 "
                               "1000 条），超出会被关停短信功能。几个短信猫一起发时各按此限。"));
    showEstimate();
    updateButtons();
}

void SendDialog::prepare(const ContactList &contacts, const QString &text)
{
    if (isBusy())
        return;
    attach(nullptr);
    m_contacts = contacts;
    m_text = text;
    recompute();
}

void SendDialog::follow(BatchRunner *runner)
{
    if (runner) {
        // A batch from the log: what it was made with, as typed.
        const BatchSettings &settings = runner->settings();
        m_pace->show(settings);
        m_devices->choose(settings.deviceIds);
        m_optOutLine->setChecked(settings.optOutLine);
        m_preview->setPlainText(settings.text);
        const BatchRunner::Progress progress = runner->progress();
        m_summary->setText(QStringLiteral("发送记录里的一批短信（%1，共 %2 人）。")
                               .arg(settings.deviceName)
                               .arg(progress.sent + progress.failed + progress.unconfirmed
                                    + progress.remaining));
        m_warning->clear();
        m_length->clear();
    }
    attach(runner);
}

void SendDialog::attach(BatchRunner *runner)
{
    m_runner = runner;
    m_progress->follow(runner);
    m_estimate->clear();
    if (runner)
        connect(runner, &BatchRunner::phaseChanged, this, &SendDialog::updateButtons);
    lockControls(runner != nullptr);
    updateButtons();
}

bool SendDialog::isBusy() const
{
    if (m_starter.isWriting())
        return true;
    return m_runner && m_runner->phase() != BatchRunner::Phase::Finished
           && m_runner->phase() != BatchRunner::Phase::Stopped;
}

void SendDialog::recompute()
{
    QSet<QString> optOuts;
    QString error;
    if (m_service.optOuts().numbers(&optOuts, &error) != LogResult::Ok) {
        // Without the list nobody can be told apart: nobody is offered.
        m_recipients = BatchRecipients();
        m_summary->setText(QStringLiteral("无法读取退订名单，不能发送：%1").arg(error));
        updateButtons();
        return;
    }
    m_recipients = BatchRecipients::select(m_contacts, m_text, m_optOutLine->isChecked(), optOuts);
    m_summary->setText(m_recipients.summary());
    m_warning->setText(m_recipients.placeholderWarning());
    if (m_recipients.recipients.isEmpty()) {
        m_preview->clear();
        m_length->clear();
    } else {
        const QString &first = m_recipients.recipients.first().text;
        m_preview->setPlainText(first);
        m_length->setText(QStringLiteral("%1；整批共 %2 条")
                              .arg(SmsLength::describe(first))
                              .arg(m_recipients.totalParts));
    }
    showEstimate();
    updateButtons();
}

void SendDialog::showEstimate()
{
    const DevicePicker::Choice choice = m_devices->choice();
    if (m_runner || choice.ids.isEmpty() || m_recipients.recipients.isEmpty()) {
        m_estimate->clear();
        return;
    }
    BatchSettings planned = settings();
    QDateTime from = m_service.clock()();
    if (const QDateTime at = m_pace->scheduledAt(); at.isValid())
        from = std::max(from, at);
    const SendPlan::Result plan =
        m_service.plan(planned, int(m_recipients.recipients.size()), from);
    m_estimate->setText(BatchProgressView::endText(plan.end, m_service.clock()()));
}

BatchSettings SendDialog::settings() const
{
    BatchSettings settings;
    const DevicePicker::Choice choice = m_devices->choice();
    settings.channel = choice.channel;
    settings.deviceIds = choice.ids;
    settings.deviceName = choice.names;
    settings.text = m_text;
    settings.optOutLine = m_optOutLine->isChecked();
    m_pace->apply(&settings);
    return settings;
}

bool SendDialog::confirmOddities()
{
    const QDateTime at = m_pace->scheduledAt();
    if (at.isValid() && at <= m_service.clock()()) {
        MessageBox::warning(this, QStringLiteral("定时发送的时间已经过了，请改成以后的时间。"));
        return false;
    }
    if (!m_recipients.unknownPlaceholders.isEmpty()
        && !MessageBox::askYesNo(this, QStringLiteral("短信里的 %1 不是能替换的内容（只认 {姓名}、{称呼}、"
                                                      "{备注}、{手机号}），会按原样发给每个人。是否仍然发送？")
                                           .arg(m_recipients.unknownPlaceholders.join(u'、'))))
        return false;
    if (m_recipients.mostParts > LongTextParts
        && !MessageBox::askYesNo(this, QStringLiteral("每人的短信最长要分成 %1 条发送（整批共 %2 条）。"
                                                      "是否仍然发送？")
                                           .arg(m_recipients.mostParts)
                                           .arg(m_recipients.totalParts)))
        return false;
    return true;
}

void SendDialog::startSending()
{
    if (isBusy() || m_devices->choice().ids.isEmpty() || m_recipients.recipients.isEmpty())
        return;
    if (!confirmOddities())
        return;
    lockControls(true);
    updateButtons();
    const QDateTime at = m_pace->scheduledAt();
    m_starter.startNew(settings(), m_recipients.recipients, at,
                       [guard = QPointer<SendDialog>(this)](const BatchStarter::Outcome &outcome) {
                           if (guard)
                               guard->started(outcome.batch, outcome.runner, outcome.error);
                       });
}

void SendDialog::started(qint64 batch, BatchRunner *runner, const QString &error)
{
    if (runner) {
        attach(runner);
        return;
    }
    lockControls(false);
    updateButtons();
    if (!error.isEmpty()) {
        MessageBox::warning(this, error);
        return;
    }
    if (batch == 0)
        return; // cancelled
    const QDateTime at = m_pace->scheduledAt();
    MessageBox::information(
        this, at.isValid()
                  ? QStringLiteral("这批短信（%1 人）定在 %2 发送。到时请让本程序开着；"
                                   "在“发送记录”里可以改时间、马上发送或取消。")
                        .arg(m_recipients.recipients.size())
                        .arg(at.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                  : QStringLiteral("这批短信排在正在发送的那一批之后，等它发完就开始。"));
    m_contacts.clear();
    m_text.clear();
    recompute();
    close();
}

void SendDialog::lockControls(bool locked)
{
    m_devices->setEnabled(!locked);
    m_optOutLine->setEnabled(!locked);
    m_pace->setLocked(locked);
}

void SendDialog::updateButtons()
{
    const bool writing = m_starter.isWriting();
    const bool hasRunner = m_runner != nullptr;
    // A batch shown here, even one that ended, is not started again: the
    // menu hands the dialog a new one.
    m_start->setEnabled(!writing && !hasRunner && !m_recipients.recipients.isEmpty()
                        && !m_devices->choice().ids.isEmpty());
    const BatchRunner::Phase phase = hasRunner ? m_runner->phase() : BatchRunner::Phase::Idle;
    const bool halted = phase == BatchRunner::Phase::Paused || phase == BatchRunner::Phase::Stopped;
    const bool over = phase == BatchRunner::Phase::Finished;
    m_pause->setText(halted ? QStringLiteral("继续(&P)") : QStringLiteral("暂停(&P)"));
    m_pause->setEnabled(hasRunner && !over);
    m_stop->setEnabled(hasRunner && !halted && !over);
}

bool SendDialog::event(QEvent *event)
{
    const bool handled = QDialog::event(event);
    // A warning, the progress or more devices appeared: the dialog grows
    // rather than squeeze its wrapped texts into each other (a window's
    // minimum size does not count the height that wrapping takes).
    if (event->type() == QEvent::LayoutRequest) {
        int needed = hasHeightForWidth() ? heightForWidth(width()) : sizeHint().height();
        if (height() < needed && screen()) {
            // Within the screen, moved up when its foot would leave it.
            const QRect available = screen()->availableGeometry();
            const int frame = frameGeometry().height() - height();
            needed = std::min(needed, available.height() - frame);
            const int overflow = frameGeometry().top() + frame + needed - available.bottom() - 1;
            if (overflow > 0)
                move(x(), std::max(available.top(), frameGeometry().top() - overflow));
        }
        if (height() < needed)
            resize(width(), needed);
    }
    return handled;
}

void SendDialog::closeEvent(QCloseEvent *event)
{
    // Closing while the batch is being written is its 取消.
    if (m_starter.isWriting())
        m_starter.cancel();
    if (m_runner && m_runner->isActive() && !m_service.isExiting()
        && MessageBox::askYesNo(this, QStringLiteral("正在发送短信（还剩 %1 人）。是否停止发送？\n"
                                                     "选“否”则关闭本窗口，短信在后台继续发送，"
                                                     "进度显示在“短信”菜单里。")
                                          .arg(m_runner->progress().remaining)))
        m_runner->stop();
    event->accept();
}
