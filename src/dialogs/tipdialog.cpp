#include "dialogs/tipdialog.h"

#include "desktop/twips.h"
#include "desktop/webpages.h"
#include "dialogs/dialoglabels.h"
#include "dialogs/linklabel.h"
#include "dialogs/qrcode.h"
#include "dialogs/singledialog.h"

#include <QLabel>
#include <QPushButton>

namespace {

QPointer<TipDialog> g_instance;

} // namespace

TipDialog::TipDialog(QWidget *owner)
    : QDialog(owner, FixedDialogFlags)
{
    using namespace DialogLabels;
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("提示"));
    Twips::fixClientSize(this, 4950, 2415);

    auto *picture = new QLabel(this);
    setUp(picture, "Image1", Black, 120, 120, 1620, 1515, QStringLiteral("二维码"));
    picture->setPixmap(QPixmap::fromImage(QrCode::render(WebPages::helpPage().toString(),
                                                         picture->size())));

    add(this, "Label2", QStringLiteral("安装蓝舟群发APP"), Red, 120, 1740, 1530, 180);
    add(this, "Label3", QStringLiteral("(安卓版)"), Red, 480, 1980, 720, 180);
    addParagraph(this, "Label1",
        QStringLiteral("已成功生成手机通讯录，请将通讯录\n\n"
                       "文件通过电脑QQ上传到手机QQ上，然\n\n"
                       "后即可在\"蓝舟短信群发\"手机APP \n\n"
                       "中进行群发短信或批量打电话。"),
        Black, 1920, 120, 3195, 1815);

    auto *help = new LinkLabel(QStringLiteral("点此查看详细操作说明"), this);
    setUp(help, "Label7", Blue, 1920, 1560, 1800, 180);
    connect(help, &LinkLabel::clicked, this, [] { WebPages::open(WebPages::helpPage()); });

    auto *ok = new QPushButton(QStringLiteral("确 定"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setDefault(true);
    Twips::place(ok, 3540, 1920, 1275, 345);
    connect(ok, &QPushButton::clicked, this, &QWidget::close);
}

TipDialog *TipDialog::showFor(QWidget *owner)
{
    return showSingleDialog(g_instance, owner, [](QWidget *o) { return new TipDialog(o); });
}

TipDialog *TipDialog::current()
{
    return g_instance;
}
