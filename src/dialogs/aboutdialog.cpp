#include "dialogs/aboutdialog.h"

#include "desktop/twips.h"
#include "desktop/webpages.h"
#include "dialogs/dialoglabels.h"
#include "dialogs/linklabel.h"
#include "dialogs/qrcode.h"
#include "dialogs/singledialog.h"

#include <QLabel>
#include <QStyle>

namespace {

QPointer<AboutDialog> g_instance;

} // namespace

AboutDialog::AboutDialog(QWidget *owner)
    : QDialog(owner, FixedDialogFlags)
{
    using namespace DialogLabels;
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("关于"));
    setWindowIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
    Twips::fixClientSize(this, 4260, 1860);

    add(this, "Label2", QStringLiteral("版本：V2.0"), Black, 120, 180, 900, 180);
    add(this, "lblDescription", QStringLiteral("开发：") + QString::fromUtf8(WebPages::MakerName),
        Black, 120, 480, 1620, 180);
    add(this, "Label1", QStringLiteral("邮箱：") + QLatin1String(WebPages::MakerEmail), Black, 120,
        780, 1800, 180);
    add(this, "Label3", QStringLiteral("联系QQ：") + QLatin1String(WebPages::MakerQq), Black, 120,
        1080, 1530, 180);
    add(this, "Label5", QStringLiteral("主页："), Black, 120, 1380, 540, 180);

    // The address as people type it; the full URL would not fit the line.
    auto *home = new LinkLabel(QLatin1String(WebPages::Host), this);
    setUp(home, "Label7", Blue, 660, 1380, 1800, 180);
    connect(home, &LinkLabel::clicked, this, [] { WebPages::open(WebPages::homePage()); });

    auto *picture = new QLabel(this);
    setUp(picture, "Image3", Black, 2760, 180, 1275, 1215, QStringLiteral("作者微信二维码"));
    picture->setPixmap(QPixmap::fromImage(QrCode::render(WebPages::homePage().toString(),
                                                         picture->size())));

    add(this, "Label6", QStringLiteral("扫一扫加作者微信"), Red, 2640, 1440, 1440, 180);
}

AboutDialog *AboutDialog::showFor(QWidget *owner)
{
    return showSingleDialog(g_instance, owner, [](QWidget *o) { return new AboutDialog(o); });
}

AboutDialog *AboutDialog::current()
{
    return g_instance;
}
