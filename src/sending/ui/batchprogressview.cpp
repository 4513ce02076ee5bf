#include "sending/ui/batchprogressview.h"

#include "desktop/viewheight.h"
#include "sending/batchrunner.h"

#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

BatchProgressView::BatchProgressView(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("progress"));
    m_bar->setAccessibleName(QStringLiteral("发送进度"));
    layout->addWidget(m_bar);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    // Room for the counts and what the batch waits for, so the dialog does
    // not jump as they come and go.
    m_status->setMinimumHeight(m_status->fontMetrics().lineSpacing() * 3);
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(m_status);
    m_devices = new QTableWidget(0, 6, this);
    m_devices->setObjectName(QStringLiteral("devices"));
    m_devices->setAccessibleName(QStringLiteral("各短信猫的进度"));
    m_devices->setHorizontalHeaderLabels({QStringLiteral("设备"), QStringLiteral("已发送"),
                                          QStringLiteral("失败"), QStringLiteral("剩余（约）"),
                                          QStringLiteral("预计发完"), QStringLiteral("状态")});
    m_devices->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_devices->verticalHeader()->hide();
    m_devices->horizontalHeader()->setStretchLastSection(true);
    m_devices->setVisible(false);
    layout->addWidget(m_devices);
}

QString BatchProgressView::endText(const QDateTime &end, const QDateTime &now)
{
    if (!end.isValid())
        return QString();
    const QString format = end.date() == now.date() ? QStringLiteral("HH:mm")
                                                    : QStringLiteral("M月d日 HH:mm");
    return QStringLiteral("预计 %1 发完").arg(end.toString(format));
}

void BatchProgressView::follow(BatchRunner *runner)
{
    if (m_runner)
        disconnect(m_runner, nullptr, this, nullptr);
    m_runner = runner;
    if (runner) {
        connect(runner, &BatchRunner::progressChanged, this, &BatchProgressView::refresh);
        connect(runner, &BatchRunner::phaseChanged, this, &BatchProgressView::refresh);
    }
    refresh();
}

void BatchProgressView::showNote(const QString &note)
{
    if (!m_runner)
        m_status->setText(note);
}

void BatchProgressView::refresh()
{
    if (!m_runner) {
        m_bar->reset();
        m_status->clear();
        m_devices->setVisible(false);
        return;
    }
    const BatchRunner::Progress progress = m_runner->progress();
    const int total = progress.sent + progress.failed + progress.unconfirmed + progress.remaining;
    m_bar->setRange(0, std::max(total, 1));
    m_bar->setValue(total - progress.remaining);
    QString text = QStringLiteral("已发送 %1，失败 %2，剩余 %3")
                       .arg(progress.sent)
                       .arg(progress.failed)
                       .arg(progress.remaining);
    if (progress.unconfirmed > 0)
        text += QStringLiteral("，未确认 %1").arg(progress.unconfirmed);
    const bool going = m_runner->phase() == BatchRunner::Phase::Running
                       || m_runner->phase() == BatchRunner::Phase::Waiting;
    const QDateTime now = QDateTime::currentDateTime();
    const SendPlan::Result plan = going && progress.remaining > 0 ? m_runner->plan()
                                                                  : SendPlan::Result();
    if (const QString end = endText(plan.end, now); !end.isEmpty())
        text += QStringLiteral("，") + end;
    if (!m_runner->statusText().isEmpty())
        text += u'\n' + m_runner->statusText();
    m_status->setText(text);

    const QList<BatchRunner::Device> devices = m_runner->devices();
    m_devices->setVisible(devices.size() > 1);
    if (devices.size() < 2)
        return;
    m_devices->setRowCount(int(devices.size()));
    m_devices->setMinimumHeight(heightForRows(*m_devices, std::min(int(devices.size()), 4)));
    for (int row = 0; row < devices.size(); ++row) {
        const BatchRunner::Device &device = devices.at(row);
        const QStringList cells = {
            device.label,
            QString::number(device.sent),
            QString::number(device.failed),
            QString::number(plan.shares.value(row)),
            plan.ends.value(row).isValid() ? plan.ends.value(row).toString(QStringLiteral("M月d日 HH:mm"))
                                           : QString(),
            device.inBatch ? device.status : QStringLiteral("已退出：") + device.status};
        for (int column = 0; column < cells.size(); ++column)
            m_devices->setItem(row, column, new QTableWidgetItem(cells.at(column)));
    }
    m_devices->resizeColumnsToContents();
}
