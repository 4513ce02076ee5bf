#include "followup/ui/phonechoicedialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

PhoneChoiceDialog::PhoneChoiceDialog(const QList<PhoneDialer::Phone> &phones, const QString &number,
                                     QWidget *parent)
    : QDialog(parent)
    , m_phones(phones)
{
    setObjectName(QStringLiteral("phoneChoice"));
    setWindowTitle(QStringLiteral("选择手机"));
    auto *question = new QLabel(QStringLiteral("用哪部手机拨打 %1？").arg(number.trimmed()), this);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("phones"));
    m_list->setAccessibleName(QStringLiteral("可以拨号的手机"));
    for (const PhoneDialer::Phone &phone : phones)
        m_list->addItem(phone.name);
    m_list->setCurrentRow(0);
    m_remember = new QCheckBox(QStringLiteral("以后都用这部手机拨打（直到程序关闭）"), this);
    m_remember->setObjectName(QStringLiteral("remember"));
    m_remember->setChecked(true);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("拨打"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemActivated, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(m_list);
    layout->addWidget(m_remember);
    layout->addWidget(buttons);
}

PhoneDialer::Phone PhoneChoiceDialog::chosen() const
{
    const int row = m_list->currentRow();
    return m_phones.value(row < 0 ? 0 : row);
}

bool PhoneChoiceDialog::remember() const
{
    return m_remember->isChecked();
}
