#include "dialogs/progressdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

ProgressDialog::ProgressDialog(const QString &title, const QString &text, QWidget *owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("ProgressDialog"));
    setWindowTitle(title);
    setAccessibleName(title);
    setWindowModality(Qt::WindowModal);

    auto *label = new QLabel(text, this);
    label->setWordWrap(true);
    m_bar = new QProgressBar(this);
    m_bar->setAccessibleName(QStringLiteral("进度"));
    m_bar->setRange(0, 0);
    auto *cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("取消"));
    cancel->setAccessibleName(cancel->text());
    cancel->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_bar);
    layout->addLayout(buttons);
    setMinimumWidth(360);

    connect(cancel, &QPushButton::clicked, this, &ProgressDialog::reject);
}

void ProgressDialog::showProgress(qint64 done, qint64 total)
{
    // The bar counts in thousandths: a count of rows or bytes may pass int.
    constexpr int steps = 1000;
    if (total <= 0) {
        m_bar->setRange(0, 0);
        return;
    }
    m_bar->setRange(0, steps);
    m_bar->setValue(int(std::clamp<qint64>(done, 0, total) * steps / total));
}

void ProgressDialog::reject()
{
    // Stays up until the work has stopped; the runner closes it.
    emit cancelRequested();
}
