#include "sending/ui/paceeditor.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QTimeEdit>

namespace {

constexpr int MaxInterval = 3600;
constexpr int MaxCap = 1'000'000;

struct Pace
{
    int interval;
    int perHour;
    int perDay;
};
constexpr Pace ModemPace{20, 200, 1000};
constexpr Pace PhonePace{30, 0, 0};

QSpinBox *spinBox(const QString &name, int maximum, QWidget *parent)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setAccessibleName(name);
    box->setRange(0, maximum);
    return box;
}

QTimeEdit *timeEdit(QTime time, const QString &name, const QString &accessibleName, QWidget *parent)
{
    auto *edit = new QTimeEdit(time, parent);
    edit->setObjectName(name);
    edit->setAccessibleName(accessibleName);
    edit->setDisplayFormat(QStringLiteral("HH:mm"));
    return edit;
}

} // namespace

PaceEditor::PaceEditor(QWidget *parent)
    : QGroupBox(QStringLiteral("速度"), parent)
{
    auto *form = new QFormLayout(this);
    m_interval = spinBox(QStringLiteral("每条间隔（秒）"), MaxInterval, this);
    m_perHour = spinBox(QStringLiteral("每小时最多"), MaxCap, this);
    m_perDay = spinBox(QStringLiteral("每天最多"), MaxCap, this);
    m_perHour->setSpecialValueText(QStringLiteral("不限"));
    m_perDay->setSpecialValueText(QStringLiteral("不限"));
    form->addRow(QStringLiteral("每条间隔（秒）(&I)："), m_interval);
    form->addRow(QStringLiteral("每小时最多(&H)："), m_perHour);
    form->addRow(QStringLiteral("每天最多(&D)："), m_perDay);
    form->addRow(new QLabel(QStringLiteral("（用几个短信猫时，每个短信猫各按此速度）"), this));

    auto *window = new QHBoxLayout;
    m_windowOn = new QCheckBox(QStringLiteral("只在此时段内发送(&W)"), this);
    m_windowOn->setObjectName(QStringLiteral("只在此时段内发送"));
    m_windowOn->setChecked(true);
    m_windowStart = timeEdit(QTime(8, 0), QStringLiteral("windowStart"), QStringLiteral("时段开始"), this);
    m_windowEnd = timeEdit(QTime(21, 0), QStringLiteral("windowEnd"), QStringLiteral("时段结束"), this);
    window->addWidget(m_windowOn);
    window->addWidget(m_windowStart);
    window->addWidget(new QLabel(QStringLiteral("至"), this));
    window->addWidget(m_windowEnd);
    window->addStretch();
    form->addRow(window);

    auto *schedule = new QHBoxLayout;
    m_scheduled = new QCheckBox(QStringLiteral("定时发送(&L)"), this);
    m_scheduled->setObjectName(QStringLiteral("定时发送"));
    m_scheduledAt = new QDateTimeEdit(this);
    m_scheduledAt->setObjectName(QStringLiteral("定时"));
    m_scheduledAt->setAccessibleName(QStringLiteral("定时发送的时间"));
    m_scheduledAt->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    m_scheduledAt->setCalendarPopup(true);
    m_scheduledAt->setDateTime(QDateTime::currentDateTime().addSecs(3600));
    m_scheduledAt->setEnabled(false);
    schedule->addWidget(m_scheduled);
    schedule->addWidget(m_scheduledAt);
    schedule->addStretch();
    form->addRow(schedule);
    m_scheduleNote = new QLabel(
        QStringLiteral("定时发送的短信只在程序运行时发出：到那个时间请让本程序开着。"), this);
    m_scheduleNote->setObjectName(QStringLiteral("scheduleNote"));
    m_scheduleNote->setWordWrap(true);
    m_scheduleNote->setVisible(false);
    form->addRow(m_scheduleNote);

    for (QSpinBox *box : {m_interval, m_perHour, m_perDay})
        connect(box, &QSpinBox::valueChanged, this, &PaceEditor::changed);
    connect(m_windowOn, &QCheckBox::toggled, this, [this] {
        setLocked(m_locked);
        emit changed();
    });
    for (QTimeEdit *edit : {m_windowStart, m_windowEnd})
        connect(edit, &QTimeEdit::timeChanged, this, &PaceEditor::changed);
    connect(m_scheduled, &QCheckBox::toggled, this, [this](bool on) {
        m_scheduleNote->setVisible(on);
        setLocked(m_locked);
        emit changed();
    });
    connect(m_scheduledAt, &QDateTimeEdit::dateTimeChanged, this, &PaceEditor::changed);
}

void PaceEditor::useDefaultsFor(BatchSettings::Channel channel)
{
    const Pace pace = channel == BatchSettings::Channel::Phone ? PhonePace : ModemPace;
    m_interval->setValue(pace.interval);
    m_perHour->setValue(pace.perHour);
    m_perDay->setValue(pace.perDay);
}

void PaceEditor::show(const BatchSettings &settings)
{
    m_interval->setValue(settings.intervalSeconds);
    m_perHour->setValue(settings.perHour);
    m_perDay->setValue(settings.perDay);
    m_windowOn->setChecked(settings.windowOn);
    if (settings.windowOn) {
        m_windowStart->setTime(settings.windowStart);
        m_windowEnd->setTime(settings.windowEnd);
    }
}

void PaceEditor::apply(BatchSettings *settings) const
{
    settings->intervalSeconds = m_interval->value();
    settings->perHour = m_perHour->value();
    settings->perDay = m_perDay->value();
    settings->windowOn = m_windowOn->isChecked();
    settings->windowStart = m_windowStart->time();
    settings->windowEnd = m_windowEnd->time();
}

QDateTime PaceEditor::scheduledAt() const
{
    return m_scheduled->isChecked() ? m_scheduledAt->dateTime() : QDateTime();
}

void PaceEditor::setScheduleAvailable(bool available)
{
    m_scheduled->setVisible(available);
    m_scheduledAt->setVisible(available);
    if (!available)
        m_scheduled->setChecked(false);
}

void PaceEditor::setLocked(bool locked)
{
    m_locked = locked;
    for (QWidget *control :
         std::initializer_list<QWidget *>{m_interval, m_perHour, m_perDay, m_windowOn, m_scheduled})
        control->setEnabled(!locked);
    m_windowStart->setEnabled(!locked && m_windowOn->isChecked());
    m_windowEnd->setEnabled(!locked && m_windowOn->isChecked());
    m_scheduledAt->setEnabled(!locked && m_scheduled->isChecked());
}
