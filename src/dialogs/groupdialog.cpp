#include "dialogs/groupdialog.h"

#include "commands/groupcommands.h"
#include "core/fieldlimits.h"
#include "core/textrules.h"
#include "desktop/messagebox.h"
#include "desktop/twips.h"
#include "dialogs/commandrunner.h"
#include "storage/contactstore.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <limits>

namespace {

// Skipped contacts named one by one in the report after a save-as.
constexpr int NamedSkipped = 5;

} // namespace

GroupDialog::GroupDialog(ContactStore &store, TickedContacts tickedContacts,
                         CommandRunner &runner, QWidget *owner)
    : FixedDialog(owner, 3690, 1755)
    , m_store(store)
    , m_tickedContacts(std::move(tickedContacts))
    , m_runner(runner)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("分组"));

    auto *prompt = new QLabel(QStringLiteral("请输入分组名称："), this);
    prompt->setObjectName(QStringLiteral("Label1"));
    Twips::place(prompt, 240, 180, 1440, 180);

    m_nameBox = new QLineEdit(this);
    m_nameBox->setObjectName(QStringLiteral("Text1"));
    m_nameBox->setAccessibleName(QStringLiteral("分组名称"));
    // No limit that would cut pasted text: the length is checked at "确定".
    m_nameBox->setMaxLength(std::numeric_limits<int>::max());
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
    openIn(Mode::AddGroup);
}

void GroupDialog::openForSaveAs()
{
    openIn(Mode::SaveAsGroup);
}

void GroupDialog::openIn(Mode mode)
{
    // Opening an open dialog switches its mode and keeps the name typed.
    m_mode = mode;
    setWindowTitle(mode == Mode::SaveAsGroup ? QStringLiteral("另存为分组")
                                             : QStringLiteral("添加分组"));
    present();
}

void GroupDialog::clearContents()
{
    m_nameBox->clear();
    m_nameBox->setFocus();
}

void GroupDialog::confirm()
{
    const QString name = TextRules::trimBlanks(m_nameBox->text());
    const QString tooLong = FieldLimits::groupNameTooLong(name);
    if (!tooLong.isEmpty()) {
        // Stays open with the name as typed, to be shortened.
        MessageBox::information(this, tooLong);
        return;
    }
    hide();
    if (name.isEmpty())
        return; // stays loaded with its text for the next opening

    int copied = 0;
    QList<Skipped> skipped;
    // No question first: the store answers Duplicate for an existing name.
    QString error;
    const StoreResult result = createGroup(name, &copied, &skipped, &error);
    switch (result) {
    case StoreResult::Ok:
        if (!skipped.isEmpty())
            reportSkipped(name, copied, skipped);
        break;
    case StoreResult::Duplicate:
        MessageBox::information(this, QStringLiteral("该分组名称已存在！"));
        break;
    case StoreResult::Cancelled:
        return; // nothing written, as the user asked
    default:
        reportFailure(result, error);
        return;
    }
    accept();
    emit groupsChanged();
}

StoreResult GroupDialog::createGroup(const QString &name, int *copied, QList<Skipped> *skipped,
                                     QString *error)
{
    // The mode and the ticks are those at the moment the name is confirmed.
    if (m_mode == Mode::AddGroup)
        return m_store.addGroup(name, error);

    if (m_runner.isBusy()) {
        *error = QStringLiteral("另一项工作正在进行，请等它结束后再试");
        return StoreResult::Failed;
    }
    // A contact that does not fit is left out, never the rest.
    const auto command = std::make_shared<SaveAsGroupCommand>(m_runner.connection(), name,
                                                              m_tickedContacts());
    if (!m_runner.run(command)) {
        *error = command->error();
        // The outcome of a cancelled command is not to be read: it may still be winding down.
        return command->wasCancelled() ? StoreResult::Cancelled : command->result();
    }
    *copied = command->copied();
    for (const qsizetype position : command->skipped()) {
        const Contact &contact = command->contacts().at(position);
        QString reason = FieldLimits::firstTooLong(name, contact);
        if (reason.isEmpty())
            reason = QStringLiteral("手机号与前面的联系人重复。");
        skipped->append({contact, reason});
    }
    return StoreResult::Ok;
}

void GroupDialog::reportSkipped(const QString &name, int copied, const QList<Skipped> &skipped)
{
    QStringList lines;
    lines << QStringLiteral("已建立分组“%1”并复制了 %2 个联系人；%3 个联系人没有复制：")
                 .arg(name)
                 .arg(copied)
                 .arg(skipped.size());
    for (qsizetype i = 0; i < skipped.size() && i < NamedSkipped; ++i) {
        const Skipped &entry = skipped.at(i);
        lines << QStringLiteral("%1 %2：%3").arg(entry.contact.mobile(), entry.contact.name(), entry.reason);
    }
    if (skipped.size() > NamedSkipped)
        lines << QStringLiteral("……另有 %1 个。").arg(skipped.size() - NamedSkipped);
    MessageBox::information(this, lines.join(QLatin1Char('\n')));
}

void GroupDialog::reportFailure(StoreResult result, const QString &error)
{
    const QString reason = result == StoreResult::TooLong
                               ? QStringLiteral("名称或联系人内容超过了允许的长度")
                               : error;
    MessageBox::warning(this, QStringLiteral("创建分组失败：%1").arg(reason));
    // Shown again with the name as typed, to try again or to close.
    show();
}
