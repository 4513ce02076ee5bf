#pragma once

#include "sending/sendrecord.h"

#include <QDateTime>
#include <QGroupBox>

class QCheckBox;
class QDateTimeEdit;
class QLabel;
class QSpinBox;
class QTimeEdit;

// 速度 of the send dialog: seconds between messages, at most so many an hour
// and a day (each device on its own), the daily window, and 定时发送.
class PaceEditor : public QGroupBox
{
    Q_OBJECT

public:
    explicit PaceEditor(QWidget *parent = nullptr);

    // The point-to-point limits operators apply before they close a SIM's
    // SMS; a phone goes slower, as Android asks the user to confirm a quick
    // series.
    void useDefaultsFor(BatchSettings::Channel channel);
    void show(const BatchSettings &settings);
    // Writes the pace into settings.
    void apply(BatchSettings *settings) const;
    // Invalid unless 定时发送 is ticked.
    QDateTime scheduledAt() const;
    void setScheduleAvailable(bool available);
    void setLocked(bool locked);

signals:
    void changed();

private:
    QSpinBox *m_interval = nullptr;
    QSpinBox *m_perHour = nullptr;
    QSpinBox *m_perDay = nullptr;
    QCheckBox *m_windowOn = nullptr;
    QTimeEdit *m_windowStart = nullptr;
    QTimeEdit *m_windowEnd = nullptr;
    QCheckBox *m_scheduled = nullptr;
    QDateTimeEdit *m_scheduledAt = nullptr;
    QLabel *m_scheduleNote = nullptr;
    bool m_locked = false;
};
