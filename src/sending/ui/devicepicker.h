#pragma once

#include "sending/sendingservice.h"

#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

// 发送方式: the devices a batch can go through, each with its state, to be
// ticked: one modem, several (全部短信猫 ticks every usable one), or one
// phone, which goes alone. A device that cannot send (a SIM that wants its
// PIN) is listed but cannot be ticked.
class DevicePicker : public QWidget
{
    Q_OBJECT

public:
    struct Choice
    {
        BatchSettings::Channel channel = BatchSettings::Channel::Modem;
        QStringList ids;
        QString names; // as the log keeps them, "、" between
    };

    explicit DevicePicker(QWidget *parent = nullptr);

    // The list anew, keeping what was ticked where it is still there.
    void setDevices(const QList<SendDevice> &devices);
    bool isEmpty() const { return m_devices.isEmpty(); }
    // Empty ids when nothing usable is ticked.
    Choice choice() const;
    void choose(const QStringList &ids);
    void tickAllModems();

signals:
    void choiceChanged();

private:
    void ticked(int row);

    QList<SendDevice> m_devices;
    QListWidget *m_list = nullptr;
    QPushButton *m_allModems = nullptr;
    QLabel *m_none = nullptr;
};
