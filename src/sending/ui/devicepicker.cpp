#include "sending/ui/devicepicker.h"

#include "desktop/viewheight.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

DevicePicker::DevicePicker(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("发送方式"));
    m_list->setAccessibleName(QStringLiteral("发送方式"));
    m_list->setMinimumWidth(420);
    m_list->setMaximumHeight(m_list->fontMetrics().height() * 6);
    layout->addWidget(m_list);
    auto *row = new QHBoxLayout;
    m_allModems = new QPushButton(QStringLiteral("全部短信猫(&A)"), this);
    m_allModems->setObjectName(QStringLiteral("全部短信猫"));
    m_allModems->setAutoDefault(false);
    row->addWidget(m_allModems);
    row->addStretch();
    layout->addLayout(row);
    m_none = new QLabel(this);
    m_none->setObjectName(QStringLiteral("noDevice"));
    m_none->setWordWrap(true);
    m_none->setText(QStringLiteral(
        "没有找到可用的短信猫或手机。使用短信猫：请安装并启动 ModemManager，插上短信猫并放好 SIM 卡。"
        "使用自己的手机：请在电脑和安卓手机上都安装 KDE Connect，并把手机与电脑配对。"));
    layout->addWidget(m_none);
    connect(m_list, &QListWidget::itemChanged, this,
            [this](QListWidgetItem *item) { ticked(m_list->row(item)); });
    connect(m_allModems, &QPushButton::clicked, this, &DevicePicker::tickAllModems);
    setDevices({});
}

void DevicePicker::setDevices(const QList<SendDevice> &devices)
{
    const QStringList before = choice().ids;
    m_devices = devices;
    {
        const QSignalBlocker blocker(m_list);
        m_list->clear();
        for (const SendDevice &device : devices) {
            auto *item = new QListWidgetItem(device.label, m_list);
            Qt::ItemFlags flags = Qt::ItemIsSelectable;
            if (device.usable)
                flags |= Qt::ItemIsEnabled | Qt::ItemIsUserCheckable;
            item->setFlags(flags);
            item->setCheckState(device.usable && before.contains(device.id) ? Qt::Checked
                                                                             : Qt::Unchecked);
        }
    }
    const bool anyModem = std::any_of(devices.cbegin(), devices.cend(), [](const SendDevice &d) {
        return d.usable && d.channel == BatchSettings::Channel::Modem;
    });
    m_allModems->setEnabled(anyModem);
    m_none->setVisible(devices.isEmpty());
    m_list->setVisible(!devices.isEmpty());
    m_list->setMinimumHeight(heightForRows(*m_list, std::clamp(int(devices.size()), 1, 3)));
    // The first usable device when nothing that was ticked is left.
    if (choice().ids.isEmpty()) {
        for (int row = 0; row < devices.size(); ++row) {
            if (devices.at(row).usable) {
                m_list->item(row)->setCheckState(Qt::Checked);
                break;
            }
        }
    }
    if (choice().ids != before)
        emit choiceChanged();
}

DevicePicker::Choice DevicePicker::choice() const
{
    Choice choice;
    QStringList names;
    for (int row = 0; row < m_devices.size() && row < m_list->count(); ++row) {
        if (m_list->item(row)->checkState() != Qt::Checked || !m_devices.at(row).usable)
            continue;
        choice.channel = m_devices.at(row).channel;
        choice.ids.append(m_devices.at(row).id);
        names.append(m_devices.at(row).shortLabel);
    }
    choice.names = names.join(u'、');
    return choice;
}

void DevicePicker::choose(const QStringList &ids)
{
    {
        const QSignalBlocker blocker(m_list);
        for (int row = 0; row < m_devices.size(); ++row) {
            m_list->item(row)->setCheckState(m_devices.at(row).usable && ids.contains(m_devices.at(row).id)
                                                 ? Qt::Checked
                                                 : Qt::Unchecked);
        }
    }
    emit choiceChanged();
}

void DevicePicker::tickAllModems()
{
    QStringList ids;
    for (const SendDevice &device : std::as_const(m_devices)) {
        if (device.usable && device.channel == BatchSettings::Channel::Modem)
            ids.append(device.id);
    }
    choose(ids);
}

void DevicePicker::ticked(int row)
{
    if (row < 0 || row >= m_devices.size() || m_list->item(row)->checkState() != Qt::Checked)
    {
        emit choiceChanged();
        return;
    }
    // A phone goes alone; modems go together, without a phone.
    const bool phone = m_devices.at(row).channel == BatchSettings::Channel::Phone;
    {
        const QSignalBlocker blocker(m_list);
        for (int other = 0; other < m_devices.size(); ++other) {
            const bool otherPhone = m_devices.at(other).channel == BatchSettings::Channel::Phone;
            if (other != row && (phone || otherPhone))
                m_list->item(other)->setCheckState(Qt::Unchecked);
        }
    }
    emit choiceChanged();
}
