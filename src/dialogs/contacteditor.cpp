#include "dialogs/contacteditor.h"

#include "core/fieldlimits.h"
#include "core/textrules.h"
#include "desktop/messagebox.h"
#include "desktop/twips.h"
#include "storage/contactstore.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <limits>

namespace {

struct FieldLayout
{
    const char *prompt;
    const char *accessibleName;
    int top; // of the box, in twips inside the frame
};

constexpr FieldLayout fieldLayouts[] = {
    {"手机号", "手机号", 300},
    {"姓  名", "姓名", 720},
    {"称  呼", "称呼", 1140},
    {"备  注", "备注", 1560},
};

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

ContactEditor::ContactEditor(ContactStore &store, QWidget *owner)
    : FixedDialog(owner, 4080, 2655)
    , m_store(store)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("添加"));

    auto *frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    Twips::place(frame, 120, 0, 3855, 2115);

    for (int i = 0; i < FieldCount; ++i) {
        const FieldLayout &field = fieldLayouts[i];
        auto *label = new QLabel(text(field.prompt), frame);
        label->setObjectName(QStringLiteral("Label1_%1").arg(i));
        Twips::place(label, 180, field.top + 60, 540, 180);

        auto *box = new QLineEdit(frame);
        box->setObjectName(QStringLiteral("Text1_%1").arg(i));
        box->setAccessibleName(text(field.accessibleName));
        // No limit that would cut pasted text: lengths are checked at the save.
        box->setMaxLength(std::numeric_limits<int>::max());
        Twips::place(box, 840, field.top, 2835, 345);
        box->installEventFilter(this);
        label->setBuddy(box);
        m_boxes[i] = box;
    }

    m_saveButton = new QPushButton(QStringLiteral("保 存"), this);
    m_saveButton->setObjectName(QStringLiteral("Command1"));
    Twips::place(m_saveButton, 2340, 2220, 795, 315);

    m_cancelButton = new QPushButton(QStringLiteral("取 消"), this);
    m_cancelButton->setObjectName(QStringLiteral("Command2"));
    Twips::place(m_cancelButton, 3180, 2220, 795, 315);

    QWidget::setTabOrder(m_boxes[Mobile], m_boxes[Name]);
    QWidget::setTabOrder(m_boxes[Name], m_boxes[Salutation]);
    QWidget::setTabOrder(m_boxes[Salutation], m_boxes[Remark]);
    QWidget::setTabOrder(m_boxes[Remark], m_saveButton);
    QWidget::setTabOrder(m_saveButton, m_cancelButton);

    connect(m_saveButton, &QPushButton::clicked, this, &ContactEditor::save);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void ContactEditor::openForAdd(const QString &group)
{
    present();
    m_addMode = true;
    m_opened = Contact();
    setGroup(group);
}

void ContactEditor::openForModify(const QString &group, const Contact &contact)
{
    present();
    m_addMode = false;
    m_opened = contact;
    setGroup(group);
    m_boxes[Mobile]->setText(contact.mobile().toString());
    m_boxes[Name]->setText(contact.name().toString());
    m_boxes[Salutation]->setText(contact.salutation().toString());
    m_boxes[Remark]->setText(contact.remark().toString());
    m_boxes[Mobile]->setFocus();
    m_boxes[Mobile]->end(false);
}

void ContactEditor::setGroup(const QString &group)
{
    m_group = group;
}

void ContactEditor::clearContents()
{
    for (QLineEdit *box : m_boxes)
        box->clear();
    setGroup(QString());
    m_opened = Contact();
    m_boxes[Mobile]->setFocus();
}

bool ContactEditor::eventFilter(QObject *watched, QEvent *event)
{
    // Enter in a box moves on to the next control instead of reaching the box.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            focusNextChild();
            return true;
        }
    }
    return FixedDialog::eventFilter(watched, event);
}

Contact ContactEditor::typedContact() const
{
    const QString mobile = m_boxes[Mobile]->text();
    const QString name = m_boxes[Name]->text();
    const QString salutation = m_boxes[Salutation]->text();
    const QString remark = m_boxes[Remark]->text();
    return Contact(TextRules::trimmedView(mobile), TextRules::trimmedView(name),
                   TextRules::trimmedView(salutation), TextRules::trimmedView(remark));
}

void ContactEditor::save()
{
    Contact contact = typedContact();
    if (!TextRules::isAcceptableEditorMobile(contact.mobile())) {
        MessageBox::information(this, QStringLiteral("请填写正确的手机号！"));
        return;
    }

    const bool toStore = m_addMode || m_opened.isStored();
    if (toStore && m_group.isEmpty()) {
        // No group has an empty name: writing here would hide the contact.
        MessageBox::information(this, QStringLiteral("请首先选择分组！"));
        return;
    }
    if (toStore) {
        // Everything typed stays in the boxes, to be shortened by the user.
        const QString tooLong = FieldLimits::firstTooLong(m_group, contact);
        if (!tooLong.isEmpty()) {
            MessageBox::information(this, tooLong);
            return;
        }
    }

    if (m_addMode) {
        // The store answers Duplicate for a key the group already holds.
        QString error;
        const StoreResult result = m_store.addContact(m_group, contact, &error);
        finishStoreSave(result, error);
    } else if (m_opened.isStored()) {
        QString error;
        const StoreResult result =
            m_store.updateContact(m_opened.rowId, m_group, contact,
                                 m_opened.mobile().toString(), &error);
        finishStoreSave(result, error);
    } else {
        // Not in the database (it came from a workbook): the edit belongs to
        // the working list alone.
        contact.rowId = m_opened.rowId;
        contact.ticked = m_opened.ticked;
        accept();
        emit workingEntryEdited(contact);
    }
}

void ContactEditor::finishStoreSave(StoreResult result, const QString &error)
{
    switch (result) {
    case StoreResult::Ok:
        accept();
        emit contactSaved();
        return;
    case StoreResult::Duplicate:
        refuseDuplicate();
        return;
    case StoreResult::NotFound:
        // Deleted while the editor was open: nothing to change any more.
        hide();
        MessageBox::warning(this, QStringLiteral("该联系人已被删除，修改未保存！"));
        accept();
        emit contactSaved();
        return;
    case StoreResult::TooLong:
        MessageBox::warning(this, QStringLiteral("保存失败：填写的内容超过了允许的长度！"));
        return;
    case StoreResult::Failed:
        // The dialog stays open with everything typed, so nothing is lost.
        MessageBox::warning(this, QStringLiteral("保存失败：%1").arg(error));
        return;
    }
}

void ContactEditor::refuseDuplicate()
{
    hide();
    MessageBox::information(this, QStringLiteral("该手机号码已存在！"));
    accept();
    emit contactSaved();
}
