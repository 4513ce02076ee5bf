#include "groupdialog.h"

#include "contactstore.h"
#include "messagebox.h"
#include "textrules.h"
#include "twips.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString saveAsCaption = QStringLiteral("另存为分组");

} // namespace

GroupDialog::GroupDialog(ContactStore &store, std::function<ContactList()> workingList,
                         QWidget *owner)
    : FixedDialog(owner, 3690, 1755)
    , m_store(store)
    , m_workingList(std::move(workingList))
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("分组"));

    auto *prompt = new QLabel(QStringLiteral("请输入分组名称："), this);
    prompt->setObjectName(QStringLiteral("Label1"));
    Twips::place(prompt, 240, 180, 1440, 180);

    m_nameBox = new QLineEdit(this);
    m_nameBox->setObjectName(QStringLiteral("Text1"));
    m_nameBox->setAccessibleName(QStringLiteral("分组名称"));
    m_nameBox->setMaxLength(50); // the width of the group column
    Twips::place(m_nameBox, 240, 540, 3195, 315);
    prompt->setBuddy(m_nameBox);

    auto *confirmButton = new QPushButton(QStringLiteral("确定"), this);
    confirmButton->setObjectName(QStringLiteral("Command1"));
    Twips::place(confirmButton, 1140, 1140, 1155, 360);

    auto *cancelButton = new QPushButton(QStringLiteral("取消"), this);
    cancelButton->setObjectName(QStringLiteral("Command2"));
    Twips::place(cancelButton, 2340, 1140, 1155, 360);

    QWidget::setTabOrder(m_nameBox, confirmButton);
    QWidget::setTabOrder(confirmButton, cancelButton);

    connect(confirmButton, &QPushButton::clicked, this, &GroupDialog::confirm);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void GroupDialog::openForAdd()
{
    openWithCaption(QStringLiteral("添加分组"));
}

void GroupDialog::openForSaveAs()
{
    openWithCaption(saveAsCaption);
}

void GroupDialog::openWithCaption(const QString &caption)
{
    setWindowTitle(caption);
    present();
}

void GroupDialog::clearContents()
{
    m_nameBox->clear();
    m_nameBox->setFocus();
}

void GroupDialog::confirm()
{
    hide();
    const QString name = TextRules::trimBlanks(m_nameBox->text());
    if (name.isEmpty())
        return; // stays loaded with its text for the next opening

    StoreResult result = StoreResult::Ok;
    const bool exists = m_store.groupExists(name, &result);
    if (result == StoreResult::Ok)
        result = exists ? StoreResult::Duplicate : createGroup(name);

    switch (result) {
    case StoreResult::Ok:
        break;
    case StoreResult::Duplicate:
        MessageBox::information(this, QStringLiteral("该分组名称已存在！"));
        break;
    default:
        reportFailure(result);
        return;
    }
    accept();
    emit groupsChanged();
}

StoreResult GroupDialog::createGroup(const QString &name)
{
    // The mode is whatever the caption says when the name is confirmed.
    if (windowTitle() != saveAsCaption)
        return m_store.addGroup(name);

    ContactList ticked;
    for (const Contact &contact : m_workingList())
        if (contact.ticked)
            ticked.append(contact);
    return m_store.addGroupWithContacts(name, ticked);
}

void GroupDialog::reportFailure(StoreResult result)
{
    const QString reason = result == StoreResult::TooLong
                               ? QStringLiteral("名称或联系人内容超过了允许的长度")
                               : m_store.errorString();
    MessageBox::warning(this, QStringLiteral("创建分组失败：%1").arg(reason));
    // Shown again with the name as typed, to try again or to close.
    show();
}
