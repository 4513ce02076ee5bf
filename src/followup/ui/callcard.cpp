#include "followup/ui/callcard.h"

#include "dialogs/qrcode.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int CodePixels = 240;

} // namespace

CallCard::CallCard(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("callCard"));
    setWindowTitle(QStringLiteral("拨打电话"));
    m_number = new QLabel(this);
    m_number->setObjectName(QStringLiteral("number"));
    QFont big = font();
    big.setPointSize(28);
    big.setBold(true);
    m_number->setFont(big);
    m_number->setAlignment(Qt::AlignCenter);
    m_number->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_code = new QLabel(this);
    m_code->setObjectName(QStringLiteral("qrCode"));
    m_code->setAlignment(Qt::AlignCenter);
    m_code->setAccessibleName(QStringLiteral("拨号二维码"));

    auto *hint = new QLabel(QStringLiteral("请用手机拨打上面的号码，或用手机相机扫描二维码拨号。"), this);
    hint->setWordWrap(true);
    m_reason = new QLabel(this);
    m_reason->setObjectName(QStringLiteral("reason"));
    m_reason->setWordWrap(true);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("关闭"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_number);
    layout->addWidget(m_code);
    layout->addWidget(hint);
    layout->addWidget(m_reason);
    layout->addWidget(buttons);
}

void CallCard::showFor(const QString &mobile, const QString &telUrl, const QString &reason)
{
    m_url = telUrl;
    m_number->setText(mobile.trimmed());
    m_image = QrCode::render(telUrl, CodePixels);
    m_code->setPixmap(QPixmap::fromImage(m_image));
    m_reason->setText(reason);
    m_reason->setVisible(!reason.isEmpty());
    show();
    raise();
    activateWindow();
}

QString CallCard::shownNumber() const
{
    return m_number->text();
}
