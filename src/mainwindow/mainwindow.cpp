#include "mainwindow/mainwindow.h"

#include "commands/groupcommands.h"
#include "core/smslength.h"
#include "core/textrules.h"
#include "desktop/messagebox.h"
#include "desktop/twips.h"
#include "dialogs/commandrunner.h"
#include "mainwindow/artwork.h"
#include "mainwindow/contactgrid.h"
#include "mainwindow/recipientlistbox.h"
#include "model/contactlistmodel.h"
#include "storage/contactstore.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr int ClientWidth = 13920;
constexpr int ClientHeight = 8445;

const QColor BandBackground(128, 128, 255);
const QColor BandText(0, 0, 255);

QLabel *label(const QString &name, const QString &text, int left, int top, int width, int height,
              QWidget *parent)
{
    auto *widget = new QLabel(text, parent);
    widget->setObjectName(name);
    // A label's text is its accessible name, whatever it changes to.
    Twips::place(widget, left, top, width, height);
    return widget;
}

QLabel *band(const QString &name, int left, int top, int width, int height, QWidget *parent)
{
    QLabel *widget = label(name, QString(), left, top, width, height, parent);
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, BandBackground);
    palette.setColor(QPalette::WindowText, BandText);
    widget->setPalette(palette);
    return widget;
}

QLabel *whiteCaption(const QString &name, const QString &text, int left, int top, int width,
                     int height, QWidget *parent)
{
    QLabel *widget = label(name, text, left, top, width, height, parent);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    widget->setPalette(palette);
    widget->setCursor(Qt::PointingHandCursor);
    return widget;
}

QLabel *picture(const QString &name, const QPixmap &pixmap, int left, int top, int width,
                int height, QWidget *parent)
{
    QLabel *widget = label(name, QString(), left, top, width, height, parent);
    widget->setPixmap(pixmap);
    widget->setScaledContents(true);
    return widget;
}

template<typename Box = QPlainTextEdit>
Box *textArea(const QString &name, const QString &accessibleName, int left, int top, int width,
              int height, QWidget *parent)
{
    auto *widget = new Box(parent);
    widget->setObjectName(name);
    widget->setAccessibleName(accessibleName);
    widget->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    widget->setTabChangesFocus(true);
    Twips::place(widget, left, top, width, height);
    return widget;
}

QLineEdit *lineEdit(const QString &name, const QString &accessibleName, int left, int top,
                    int width, int height, QWidget *parent)
{
    auto *widget = new QLineEdit(parent);
    widget->setObjectName(name);
    widget->setAccessibleName(accessibleName);
    Twips::place(widget, left, top, width, height);
    return widget;
}

} // namespace

MainWindow::MainWindow(ContactStore &store, const QString &applicationFolder, QWidget *parent,
                       PhoneDialer *phoneDialer)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                              | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_store(store)
    , m_applicationFolder(applicationFolder)
    , m_contacts(new ContactListModel(this))
    , m_phoneDialer(phoneDialer)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("蓝舟批量短信电话回访软件 V2.0"));
    setWindowIcon(Artwork::applicationIcon());

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(Twips::toPixels(ClientWidth), Twips::toPixels(ClientHeight));
    setCentralWidget(client);

    buildSearchAndGroups(client);
    m_grid = new ContactGrid(*m_contacts, client);
    Twips::place(m_grid, 2760, 60, 6735, 7500);
    buildSmsAndRecipients(client);
    buildButtons(client);
    buildMenus();
    setTabOrder();

    connect(m_contacts, &ContactListModel::ticksChanged, this, &MainWindow::rebuildRecipientList);
    connect(m_contacts, &ContactListModel::tickChanged, this, &MainWindow::updateRecipientLine);
    // A reload or an edited contact: the recipient list is rebuilt before a
    // tick can change one of its lines again.
    const auto contactsChanged = [this] { m_recipientLines.invalidate(); };
    connect(m_contacts, &QAbstractItemModel::modelReset, this, contactsChanged);
    connect(m_contacts, &QAbstractItemModel::rowsRemoved, this, contactsChanged);
    connect(m_contacts, &QAbstractItemModel::rowsInserted, this, contactsChanged);
    connect(m_contacts, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &, const QModelIndex &, const QList<int> &roles) {
                if (roles != QList<int>{Qt::CheckStateRole})
                    m_recipientLines.invalidate();
            });
    connectCommands();

    layout()->setSizeConstraint(QLayout::SetFixedSize);
    reloadGroups();

    // Centred on the screen, a little below the middle.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        adjustSize();
        const QRect available = screen->geometry();
        move(available.left() + (available.width() - frameGeometry().width()) / 2,
             available.top() + (available.height() - frameGeometry().height()) / 2
                 + Twips::toPixels(100));
    }
}

MainWindow::~MainWindow() = default;

void MainWindow::buildSearchAndGroups(QWidget *client)
{
    auto *frame = new QFrame(client);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Twips::place(frame, 60, -30, 2655, 1455);
    label(QStringLiteral("Label2"), QStringLiteral("姓  名"), 120, 300, 540, 180, frame);
    m_nameFilter = lineEdit(QStringLiteral("Text3"), QStringLiteral("姓名"), 780, 240, 1695, 300, frame);
    label(QStringLiteral("Label5"), QStringLiteral("手机号"), 120, 690, 540, 180, frame);
    m_mobileFilter = lineEdit(QStringLiteral("Text4"), QStringLiteral("手机号"), 780, 630, 1695, 300,
                              frame);
    QPushButton *searchButton = button(QStringLiteral("Command15"), QStringLiteral("查询"), 1680, 1020,
                                       795, 300, frame);
    connect(searchButton, &QPushButton::clicked, this, &MainWindow::search);

    m_groupList = new QListWidget(client);
    m_groupList->setObjectName(QStringLiteral("List1"));
    m_groupList->setAccessibleName(QStringLiteral("分组"));
    m_groupList->setUniformItemSizes(true);
    m_groupList->setSelectionMode(QAbstractItemView::SingleSelection);
    Twips::place(m_groupList, 60, 1500, 2655, 6180);
    // A group is chosen when the user selects it (mouse or keyboard), and again
    // when the selected group is clicked once more.
    connect(m_groupList, &QListWidget::itemSelectionChanged, this, &MainWindow::onGroupSelected);
    connect(m_groupList, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        if (!m_groupJustSelected && item->isSelected())
            chooseGroup(item->text());
        m_groupJustSelected = false;
    });
}

void MainWindow::buildSmsAndRecipients(QWidget *client)
{
    QLabel *smsBand = band(QStringLiteral("Label13"), 9540, 60, 4290, 300, client);
    picture(QStringLiteral("Image4"), Artwork::notepad(), 9600, -60, 300, 405, client);
    whiteCaption(QStringLiteral("Label24"), QStringLiteral("请输入短信内容"), 10020, 120, 1260, 180, client);
    m_smsBox = textArea(QStringLiteral("Text1"), QStringLiteral("短信内容"), 9540, 420, 4275, 1095, client);
    // Right of the caption in the same band: how long the text is and how
    // many messages it takes, as the user types.
    QLabel *smsLength = whiteCaption(QStringLiteral("smsLength"), SmsLength::describe(QString()),
                                     11340, 120, 2400, 180, client);
    smsLength->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    smsLength->unsetCursor();
    connect(m_smsBox, &QPlainTextEdit::textChanged, smsLength, [this, smsLength] {
        smsLength->setText(SmsLength::describe(m_smsBox->toPlainText()));
    });

    QLabel *listBand = band(QStringLiteral("Label4"), 9540, 1620, 2730, 300, client);
    picture(QStringLiteral("Image1"), Artwork::notepad(), 9600, 1500, 300, 405, client);
    // Wider than the old 990 twips so that a six-digit count is not cut off.
    m_countLabel = whiteCaption(QStringLiteral("Label3"), QStringLiteral("名单人数：0"), 10020, 1680,
                                2250, 180, client);
    m_remarksBox = new QCheckBox(QStringLiteral("显示备注信息"), client);
    m_remarksBox->setObjectName(QStringLiteral("Check1"));
    Twips::place(m_remarksBox, 12420, 1680, 1395, 195);
    connect(m_remarksBox, &QCheckBox::toggled, this, &MainWindow::rebuildRecipientList);
    m_recipientBox = textArea<RecipientListBox>(QStringLiteral("Text2"), QStringLiteral("名单"), 9540, 2040, 4275, 5535,
                              client);

    // Bands lie behind the pictures and captions drawn on them.
    smsBand->lower();
    listBand->lower();
}

void MainWindow::buildButtons(QWidget *client)
{
    struct BottomButton
    {
        const char *name;
        const char *caption;
        int left;
        int width;
        void (MainWindow::*command)();
    };
    static const BottomButton bottomRow[] = {
        {"Command8", "添加分组", 120, 1275, &MainWindow::addGroup},
        {"Command9", "删除分组", 1440, 1275, &MainWindow::deleteGroup},
        {"Command1", "添加", 2820, 825, &MainWindow::addContact},
        {"Command4", "修改", 3660, 825, &MainWindow::modifyContact},
        {"Command3", "删除", 4500, 825, &MainWindow::deleteContact},
        {"Command10", "另存为", 5340, 825, &MainWindow::saveListAsGroup},
        {"Command11", "从Excel表导入", 6600, 1455, &MainWindow::importWorkbook},
        {"Command12", "导出到Excel", 8100, 1395, &MainWindow::exportWorkbook},
        {"Command5", "全选", 9540, 795, &MainWindow::tickAll},
        {"Command7", "全不选", 10380, 795, &MainWindow::untickAll},
        {"Command13", "生成手机通讯录", 11220, 1515, &MainWindow::writePhoneBook},
        {"Command14", "操作说明", 12780, 1035, &MainWindow::openHelpPage},
    };
    QFont bold = font();
    bold.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), font().family()});
    bold.setPointSize(9);
    bold.setBold(true);
    for (const BottomButton &entry : bottomRow) {
        QPushButton *widget = button(QLatin1String(entry.name), QString::fromUtf8(entry.caption),
                                     entry.left, 7800, entry.width, 375, client);
        connect(widget, &QPushButton::clicked, this, entry.command);
        if (entry.command == &MainWindow::writePhoneBook) // the button in bold
            widget->setFont(bold);
    }
}

void MainWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("文件(F)"));
    file->setObjectName(QStringLiteral("文件"));
    connect(file->addAction(QStringLiteral("从备份恢复…")), &QAction::triggered, this,
            &MainWindow::restoreFromBackupRequested);
    file->addSeparator();
    QAction *quit = file->addAction(QStringLiteral("退出"));
    quit->setObjectName(QStringLiteral("退出"));
    // Leaving through the menu saves and backs up like closing the window.
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu *sms = menuBar()->addMenu(QStringLiteral("短信(S)"));
    sms->setObjectName(QStringLiteral("短信"));
    m_sendAction = sms->addAction(QStringLiteral("直接发送…"));
    m_sendAction->setObjectName(QStringLiteral("直接发送"));
    connect(m_sendAction, &QAction::triggered, this,
            [this] { emit sendRequested(m_contacts->contacts(), smsText()); });
    QAction *sendLog = sms->addAction(QStringLiteral("发送记录…"));
    sendLog->setObjectName(QStringLiteral("发送记录"));
    connect(sendLog, &QAction::triggered, this, &MainWindow::sendLogRequested);
    QAction *optOut = sms->addAction(QStringLiteral("退订名单…"));
    optOut->setObjectName(QStringLiteral("退订名单"));
    connect(optOut, &QAction::triggered, this, &MainWindow::optOutListRequested);

    buildFollowUpMenu();

    QMenu *help = menuBar()->addMenu(QStringLiteral("帮助(H)"));
    help->setObjectName(QStringLiteral("帮助"));
    const struct
    {
        const char *caption;
        void (MainWindow::*command)();
    } helpItems[] = {
        {"操作说明", &MainWindow::openHelpPage},
        {"关于", &MainWindow::showAbout},
        {"访问作者主页", &MainWindow::openHomePage},
    };
    for (const auto &entry : helpItems) {
        QAction *action = help->addAction(QString::fromUtf8(entry.caption));
        action->setObjectName(QString::fromUtf8(entry.caption));
        connect(action, &QAction::triggered, this, entry.command);
    }
}

void MainWindow::setTabOrder()
{
    const char *order[] = {"List1", "contactTable",      "Text1",     "Text2",     "Command1",
                           "Command3", "Command4",  "Check1",    "Command5",  "Command7",
                           "Command8", "Command9",  "Command10", "Command11", "Command12",
                           "Command13", "Command14", "Text3",    "Text4",     "Command15"};
    QWidget *previous = nullptr;
    for (const char *name : order) {
        QWidget *widget = findChild<QWidget *>(QLatin1String(name));
        if (previous && widget)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
    m_groupList->setFocus();
}

QPushButton *MainWindow::button(const QString &name, const QString &caption, int left, int top,
                                int width, int height, QWidget *parent)
{
    auto *widget = new QPushButton(caption, parent);
    widget->setObjectName(name);
    widget->setAutoDefault(false);
    Twips::place(widget, left, top, width, height);
    return widget;
}

void MainWindow::setShutdownHandler(ShutdownHandler handler)
{
    m_shutdown = std::move(handler);
}

void MainWindow::setSmsText(const QString &text)
{
    m_smsBox->setPlainText(text);
}

QString MainWindow::smsText() const
{
    return m_smsBox->toPlainText();
}

QString MainWindow::selectedGroup() const
{
    const QList<QListWidgetItem *> selected = m_groupList->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

void MainWindow::reloadGroups()
{
    QStringList groups;
    QString error;
    if (m_store.groups(&groups, &error) != StoreResult::Ok)
        MessageBox::warning(this, QStringLiteral("读取分组失败：%1").arg(error));
    m_refillingGroups = true;
    m_groupList->clear();
    for (const QString &group : std::as_const(groups)) {
        auto *item = new QListWidgetItem(group, m_groupList);
        item->setSizeHint(QSize(0, 16));
    }
    m_groupList->setCurrentRow(-1);
    m_refillingGroups = false;
}

void MainWindow::onGroupSelected()
{
    if (m_refillingGroups)
        return;
    const QString group = selectedGroup();
    if (group.isEmpty())
        return;
    m_groupJustSelected = true;
    chooseGroup(group);
}

void MainWindow::clearFilters()
{
    m_nameFilter->clear();
    m_mobileFilter->clear();
}

void MainWindow::chooseGroup(const QString &group)
{
    clearFilters();
    m_currentGroup = group;
    // Unticking rebuilds the recipient list through the check box itself.
    m_remarksBox->setChecked(false);
    reloadContacts();
    rebuildRecipientList();
}

void MainWindow::search()
{
    reloadContacts();
    // The recipient list follows the search, so that the phone file goes only
    // to the contacts the user now sees ticked.
    rebuildRecipientList();
}

void MainWindow::reloadContacts()
{
    // The old list goes first: a big group should not be held twice. Its
    // storage takes the new one.
    ContactList contacts = m_contacts->takeStorage();
    const QString group = currentGroup();
    if (group.isEmpty() || m_runner->isBusy()) {
        contacts.clear();
        m_contacts->replaceAll(std::move(contacts));
        return;
    }
    const auto load = std::make_shared<GroupLoadCommand>(
        m_runner->connection(), group, TextRules::trimBlanks(m_nameFilter->text()),
        TextRules::trimBlanks(m_mobileFilter->text()), std::move(contacts));
    if (m_runner->run(load)) {
        m_contacts->replaceAll(load->takeContacts());
        return;
    }
    // A cancelled load lists nothing, as a failed one does.
    m_contacts->replaceAll(ContactList());
    if (!load->wasCancelled())
        MessageBox::warning(this, QStringLiteral("读取分组“%1”的联系人失败：%2")
                                      .arg(group, load->error()));
}

void MainWindow::rebuildRecipientList()
{
    m_recipientBox->replaceDocumentText(
        m_recipientLines.build(m_contacts->contacts(), m_remarksBox->isChecked()));
    showRecipientCount();
}

// One tick changes one line; the whole list is built again when the lines no
// longer describe the contacts or the user has edited the box (a rebuild
// replaces hand edits).
void MainWindow::updateRecipientLine(qsizetype index)
{
    if (!m_recipientLines.isCurrent() || m_recipientBox->isEditedByHand()) {
        rebuildRecipientList();
        return;
    }
    if (const auto change = m_recipientLines.changeForTick(m_contacts->contacts(), index)) {
        m_recipientBox->replaceRange(change->position, change->removed, change->inserted);
        showRecipientCount();
    }
}

void MainWindow::showRecipientCount()
{
    m_countLabel->setText(QStringLiteral("名单人数：%1").arg(m_recipientLines.count()));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_runner->isBusy()) {
        // Asked first; the work then stops and the normal exit follows.
        event->ignore();
        if (m_closeWhenIdle
            || !MessageBox::askYesNo(this, QStringLiteral("还有工作正在进行，要取消它并退出吗？")))
            return;
        m_closeWhenIdle = true;
        m_runner->cancel();
        return;
    }
    m_closeWhenIdle = false;
    if (!m_shutdownDone) {
        m_runner->finishLingering();
        if (m_shutdown && !m_shutdown(smsText())) {
            event->ignore();
            return;
        }
        m_shutdownDone = true;
        hide();
        emit closed();
    }
    event->accept();
}
