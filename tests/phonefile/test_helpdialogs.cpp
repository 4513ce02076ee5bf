#include "desktop/twips.h"
#include "desktop/webpages.h"
#include "dialogs/aboutdialog.h"
#include "dialogs/qrcode.h"
#include "dialogs/tipdialog.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

enum class Which { Tip, About };

QDialog *showDialog(Which which, QWidget *owner)
{
    if (which == Which::Tip)
        return TipDialog::showFor(owner);
    return AboutDialog::showFor(owner);
}

QDialog *currentDialog(Which which)
{
    if (which == Which::Tip)
        return TipDialog::current();
    return AboutDialog::current();
}

// Lets a closed dialog delete itself.
void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

int dialogsShown(const char *objectName)
{
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        count += widget->objectName() == QLatin1String(objectName) && widget->isVisible();
    return count;
}

bool isDark(const QImage &image, int x, int y)
{
    return qGray(image.pixel(x, y)) < 128;
}

} // namespace

Q_DECLARE_METATYPE(Which)

class TestHelpDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windows_data();
    void windows();
    void controls_data();
    void controls();
    void oneInstance_data();
    void oneInstance();
    void linkOpensPage_data();
    void linkOpensPage();
    void okClosesTipDialog();
    void qrCodeLayout();
    void qrCodeDependsOnText();

private:
    QWidget *m_owner = nullptr;
};

void TestHelpDialogs::init()
{
    WebPages::setRecordOnly(true);
    m_owner = new QWidget;
    m_owner->setGeometry(200, 150, 900, 700);
    m_owner->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_owner));
}

void TestHelpDialogs::cleanup()
{
    delete m_owner; // takes its dialogs with it
    m_owner = nullptr;
    flushDeletes();
}

void TestHelpDialogs::windows_data()
{
    QTest::addColumn<Which>("which");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("clientTwips");
    QTest::newRow("tip") << Which::Tip << "Form4" << "提示" << QSize(4950, 2415);
    QTest::newRow("about") << Which::About << "Form5" << "关于" << QSize(4260, 1860);
}

void TestHelpDialogs::windows()
{
    QFETCH(Which, which);
    QFETCH(QString, objectName);
    QFETCH(QString, caption);
    QFETCH(QSize, clientTwips);

    QDialog *dialog = showDialog(which, m_owner);
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    QCOMPARE(dialog->objectName(), objectName);
    QCOMPARE(dialog->windowTitle(), caption);
    QCOMPARE(QAccessible::queryAccessibleInterface(dialog)->text(QAccessible::Name), caption);
    QVERIFY(!dialog->isModal());
    const QSize client(Twips::toPixels(clientTwips.width()), Twips::toPixels(clientTwips.height()));
    QCOMPARE(dialog->size(), client);
    QCOMPARE(dialog->minimumSize(), client);
    QCOMPARE(dialog->maximumSize(), client);

    const QPoint offset = dialog->frameGeometry().center() - m_owner->frameGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("off centre by %1,%2")
                                                           .arg(offset.x())
                                                           .arg(offset.y())));
    if (which == Which::About)
        QVERIFY(!dialog->windowIcon().isNull());
}

void TestHelpDialogs::controls_data()
{
    QTest::addColumn<Which>("which");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QColor>("colour");

    const QColor black(0, 0, 0), red(255, 0, 0), blue(0, 0, 255);
    QTest::newRow("tip Label2") << Which::Tip << "Label2" << "安装蓝舟群发APP"
                                << QRect(120, 1740, 1530, 180) << red;
    QTest::newRow("tip Label3") << Which::Tip << "Label3" << "(安卓版)" << QRect(480, 1980, 720, 180)
                                << red;
    QTest::newRow("tip Label1")
        << Which::Tip << "Label1"
        << "已成功生成手机通讯录，请将通讯录\n\n文件通过电脑QQ上传到手机QQ上，然\n\n"
           "后即可在\"蓝舟短信群发\"手机APP \n\n中进行群发短信或批量打电话。"
        << QRect(1920, 120, 3195, 1815) << black;
    QTest::newRow("tip Label7") << Which::Tip << "Label7" << "点此查看详细操作说明"
                                << QRect(1920, 1560, 1800, 180) << blue;
    QTest::newRow("tip Command1") << Which::Tip << "Command1" << "确 定"
                                  << QRect(3540, 1920, 1275, 345) << QColor();
    QTest::newRow("tip Image1") << Which::Tip << "Image1" << "" << QRect(120, 120, 1620, 1515)
                                << QColor();

    QTest::newRow("about Label2") << Which::About << "Label2" << "版本：V2.0"
                                  << QRect(120, 180, 900, 180) << black;
    QTest::newRow("about lblDescription")
        << Which::About << "lblDescription" << "开发：" + QString::fromUtf8(WebPages::MakerName)
        << QRect(120, 480, 1620, 180) << black;
    QTest::newRow("about Label1") << Which::About << "Label1"
                                  << "邮箱：" + QLatin1String(WebPages::MakerEmail)
                                  << QRect(120, 780, 1800, 180) << black;
    QTest::newRow("about Label3") << Which::About << "Label3"
                                  << "联系QQ：" + QLatin1String(WebPages::MakerQq)
                                  << QRect(120, 1080, 1530, 180) << black;
    QTest::newRow("about Label5") << Which::About << "Label5" << "主页："
                                  << QRect(120, 1380, 540, 180) << black;
    QTest::newRow("about Label7") << Which::About << "Label7" << QString(WebPages::Host)
                                  << QRect(660, 1380, 1800, 180) << blue;
    QTest::newRow("about Image3") << Which::About << "Image3" << "" << QRect(2760, 180, 1275, 1215)
                                  << QColor();
    QTest::newRow("about Label6") << Which::About << "Label6" << "扫一扫加作者微信"
                                  << QRect(2640, 1440, 1440, 180) << red;
}

void TestHelpDialogs::controls()
{
    QFETCH(Which, which);
    QFETCH(QString, objectName);
    QFETCH(QString, text);
    QFETCH(QRect, twips);
    QFETCH(QColor, colour);

    QDialog *dialog = showDialog(which, m_owner);
    auto *control = dialog->findChild<QWidget *>(objectName);
    QVERIFY(control);
    const QRect expected = Twips::rect(twips.left(), twips.top(), twips.width(), twips.height());
    QCOMPARE(control->pos(), expected.topLeft());
    QCOMPARE(control->height(), expected.height());
    const QString accessibleName =
        QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
    QVERIFY(!accessibleName.isEmpty());
    if (auto *label = qobject_cast<QLabel *>(control)) {
        // Labels grow to the right rather than cut their text off.
        QCOMPARE(label->width(), std::max(expected.width(), label->sizeHint().width()));
        QCOMPARE(label->text(), text);
        if (!text.isEmpty())
            QCOMPARE(accessibleName, text);
        if (objectName.startsWith("Image")) { // a QR code filling the box
            const QImage image = label->pixmap().toImage();
            QCOMPARE(image.size(), expected.size());
            int dark = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    dark += isDark(image, x, y);
            QVERIFY(!isDark(image, 0, 0) && dark > image.width() * image.height() / 5);
        }
    } else {
        QCOMPARE(control->size(), expected.size());
    }
    if (auto *button = qobject_cast<QPushButton *>(control))
        QCOMPARE(button->text(), text);
    if (colour.isValid())
        QCOMPARE(control->palette().color(QPalette::WindowText), colour);
    // Only the links show the pointing hand.
    QCOMPARE(control->cursor().shape() == Qt::PointingHandCursor, objectName == "Label7");
}

void TestHelpDialogs::oneInstance_data()
{
    QTest::addColumn<Which>("which");
    QTest::addColumn<QByteArray>("objectName");
    QTest::newRow("tip") << Which::Tip << QByteArray("Form4");
    QTest::newRow("about") << Which::About << QByteArray("Form5");
}

void TestHelpDialogs::oneInstance()
{
    QFETCH(Which, which);
    QFETCH(QByteArray, objectName);

    QDialog *first = showDialog(which, m_owner);
    QPoint moved = first->pos() + QPoint(40, 30);
    first->move(moved);
    QCOMPARE(showDialog(which, m_owner), first);
    QCOMPARE(dialogsShown(objectName), 1);
    QCOMPARE(first->pos(), moved); // brought forward, not laid out again

    // Closing unloads it; the next call loads a new one, centred again.
    QPointer<QDialog> guard(first);
    first->close();
    flushDeletes();
    QVERIFY(guard.isNull());
    QVERIFY(!currentDialog(which));
    QDialog *second = showDialog(which, m_owner);
    QVERIFY(second);
    QCOMPARE(currentDialog(which), second);
    QCOMPARE(dialogsShown(objectName), 1);
}

void TestHelpDialogs::linkOpensPage_data()
{
    QTest::addColumn<Which>("which");
    QTest::addColumn<QUrl>("url");
    QTest::newRow("tip: help page") << Which::Tip << WebPages::helpPage();
    QTest::newRow("about: home page") << Which::About << WebPages::homePage();
}

void TestHelpDialogs::linkOpensPage()
{
    QFETCH(Which, which);
    QFETCH(QUrl, url);

    QDialog *dialog = showDialog(which, m_owner);
    auto *link = dialog->findChild<QLabel *>(QStringLiteral("Label7"));
    QVERIFY(link);
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(WebPages::openedUrls(), QList<QUrl> {url});
    QVERIFY(dialog->isVisible());
}

void TestHelpDialogs::okClosesTipDialog()
{
    QPointer<QDialog> dialog = TipDialog::showFor(m_owner);
    auto *ok = dialog->findChild<QPushButton *>(QStringLiteral("Command1"));
    QVERIFY(ok);
    QTest::mouseClick(ok, Qt::LeftButton);
    flushDeletes();
    QVERIFY(dialog.isNull());
    QVERIFY(!TipDialog::current());
    QVERIFY(m_owner->isVisible());
}

// A version 1 symbol (21 modules) with its quiet zone is 29 modules wide:
// at 4 pixels a module the three finder patterns sit at known places.
void TestHelpDialogs::qrCodeLayout()
{
    const int module = 4;
    const QImage image = QrCode::render(QStringLiteral("abc"), 29 * module);
    QCOMPARE(image.size(), QSize(29 * module, 29 * module));

    const auto darkAt = [&](int mx, int my) {
        return isDark(image, mx * module + module / 2, my * module + module / 2);
    };
    const QList<QPoint> finders = {{4, 4}, {4 + 14, 4}, {4, 4 + 14}};
    for (const QPoint &origin : finders) {
        const int x = origin.x(), y = origin.y();
        QVERIFY(darkAt(x, y) && darkAt(x + 6, y + 6)); // outer ring
        QVERIFY(!darkAt(x + 1, y + 1) && !darkAt(x + 5, y + 5)); // white ring
        QVERIFY(darkAt(x + 3, y + 3)); // centre
    }
    QVERIFY(!darkAt(0, 0) && !darkAt(3, 3) && !darkAt(28, 28) && !darkAt(25, 4)); // quiet zone
}

void TestHelpDialogs::qrCodeDependsOnText()
{
    const QImage help = QrCode::render(WebPages::helpPage().toString(), 233);
    const QImage home = QrCode::render(WebPages::homePage().toString(), 233);
    QVERIFY(!help.isNull() && !home.isNull());
    QCOMPARE(help.size(), QSize(233, 233));
    QVERIFY(help != home);
    QCOMPARE(QrCode::render(WebPages::helpPage().toString(), 233), help);
    QCOMPARE(QrCode::render(QStringLiteral("abc"), QSize(108, 101)).size(), QSize(108, 101));
    QVERIFY(QrCode::render(QString(5000, u'x'), 233).isNull()); // too long for any symbol
}

QTEST_MAIN(TestHelpDialogs)
#include "test_helpdialogs.moc"
