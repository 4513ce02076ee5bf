#include "followup/ui/recordeditor.h"

#include "desktop/messagebox.h"
#include "followup/followupstore.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

using FollowUpRules::NextChoice;

// The entries of the 下次回访 box; the last lets the user pick a date.
constexpr struct
{
    const char *text;
    NextChoice choice;
} NextEntries[] = {
    {"不安排", NextChoice::None},
    {"明天", NextChoice::Tomorrow},
    {"3 天后", NextChoice::InThreeDays},
    {"一周后", NextChoice::InAWeek},
};
constexpr int OwnDateEntry = int(std::size(NextEntries));

} // namespace

RecordEditor::RecordEditor(FollowUpStore &store, Clock clock, QWidget *parent)
    : QDialog(parent)
    , m_store(store)
    , m_clock(std::move(clock))
{
    setObjectName(QStringLiteral("recordEditor"));
    auto *form = new QFormLayout;
    m_mobileLabel = new QLabel(this);
    m_mobileLabel->setObjectName(QStringLiteral("mobile"));
    form->addRow(QStringLiteral("手机号："), m_mobileLabel);

    m_time = new QDateTimeEdit(this);
    m_time->setObjectName(QStringLiteral("time"));
    m_time->setDisplayFormat(QLatin1StringView(FollowUpRules::TimeFormat));
    m_time->setCalendarPopup(true);
    form->addRow(QStringLiteral("时间(&T)："), m_time);

    m_method = new QComboBox(this);
    m_method->setObjectName(QStringLiteral("method"));
    m_method->addItems(FollowUpRules::methods());
    form->addRow(QStringLiteral("方式(&M)："), m_method);

    m_result = new QComboBox(this);
    m_result->setObjectName(QStringLiteral("result"));
    m_result->setEditable(true);
    m_result->setInsertPolicy(QComboBox::NoInsert);
    form->addRow(QStringLiteral("结果(&R)："), m_result);

    m_content = new QPlainTextEdit(this);
    m_content->setObjectName(QStringLiteral("content"));
    m_content->setTabChangesFocus(true);
    form->addRow(QStringLiteral("内容(&C)："), m_content);

    m_next = new QComboBox(this);
    m_next->setObjectName(QStringLiteral("next"));
    for (const auto &entry : NextEntries)
        m_next->addItem(QString::fromUtf8(entry.text));
    m_next->addItem(QStringLiteral("指定日期"));
    m_nextDate = new QDateEdit(this);
    m_nextDate->setObjectName(QStringLiteral("nextDate"));
    m_nextDate->setDisplayFormat(QLatin1StringView(FollowUpRules::DateFormat));
    m_nextDate->setCalendarPopup(true);
    m_nextDate->setEnabled(false);
    auto *nextRow = new QHBoxLayout;
    nextRow->addWidget(m_next);
    nextRow->addWidget(m_nextDate, 1);
    auto *nextLabel = new QLabel(QStringLiteral("下次回访(&N)："), this);
    nextLabel->setBuddy(m_next);
    form->addRow(nextLabel, nextRow);
    connect(m_next, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_nextDate->setEnabled(index == OwnDateEntry);
        if (index > 0 && index < OwnDateEntry)
            m_nextDate->setDate(
                FollowUpRules::nextDate(NextEntries[index].choice, m_clock().date()));
    });

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *saveButton = buttons->addButton(QStringLiteral("保存(&S)"), QDialogButtonBox::AcceptRole);
    saveButton->setObjectName(QStringLiteral("save"));
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &RecordEditor::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    resize(460, 360);
}

void RecordEditor::loadResults()
{
    QStringList results;
    QString error;
    m_store.results(&results, &error); // without the list the box is simply empty
    m_result->clear();
    m_result->addItems(results);
}

void RecordEditor::open(const FollowUpRecord &record)
{
    m_record = record;
    loadResults();
    m_mobileLabel->setText(record.mobile);
    m_time->setDateTime(FollowUpRules::parseTime(record.time));
    m_method->setCurrentText(record.method);
    m_result->setCurrentText(record.result);
    m_content->setPlainText(record.content);
    // The date box starts where a chosen date most likely lies.
    m_nextDate->setDate(m_clock().date().addDays(1));
    setNextDate(FollowUpRules::parseDate(record.nextDate));
    show();
    raise();
    activateWindow();
    m_result->setFocus();
}

void RecordEditor::openForAdd(const QString &mobile, const QString &method, const QDateTime &time)
{
    setWindowTitle(QStringLiteral("添加回访记录"));
    FollowUpRecord record;
    record.mobile = mobile;
    record.method = method;
    record.time = FollowUpRules::timeText(time);
    open(record);
    m_result->setCurrentText(QString());
}

void RecordEditor::openForEdit(const FollowUpRecord &record)
{
    setWindowTitle(QStringLiteral("修改回访记录"));
    open(record);
}

void RecordEditor::setNextDate(QDate date)
{
    if (!date.isValid()) {
        m_next->setCurrentIndex(0);
        return;
    }
    m_next->setCurrentIndex(OwnDateEntry);
    m_nextDate->setDate(date);
}

void RecordEditor::setNextChoice(FollowUpRules::NextChoice choice)
{
    for (int i = 0; i < OwnDateEntry; ++i) {
        if (NextEntries[i].choice == choice)
            m_next->setCurrentIndex(i);
    }
}

FollowUpRecord RecordEditor::typedRecord() const
{
    FollowUpRecord record = m_record;
    record.time = FollowUpRules::timeText(m_time->dateTime());
    record.method = m_method->currentText();
    record.result = m_result->currentText().trimmed();
    record.content = m_content->toPlainText();
    record.nextDate =
        m_next->currentIndex() == 0 ? QString() : FollowUpRules::dateText(m_nextDate->date());
    return record;
}

bool RecordEditor::save()
{
    FollowUpRecord record = typedRecord();
    const QString problem = FollowUpRules::problem(record);
    if (!problem.isEmpty()) {
        MessageBox::warning(this, problem);
        return false;
    }
    const QDate today = m_clock().date();
    if (!record.nextDate.isEmpty() && FollowUpRules::parseDate(record.nextDate) < today
        && !MessageBox::askYesNo(this, QStringLiteral("下次回访日期 %1 已经过去，仍然保存吗？")
                                           .arg(record.nextDate)))
        return false;
    QString error;
    const StoreResult result =
        record.id > 0 ? m_store.update(record, &error) : m_store.add(&record, &error);
    if (result == StoreResult::NotFound) {
        MessageBox::warning(this, QStringLiteral("这条回访记录已被删除，修改没有保存。"));
        return false;
    }
    if (result != StoreResult::Ok) {
        MessageBox::warning(this, QStringLiteral("保存回访记录失败：%1").arg(error));
        return false;
    }
    m_store.rememberResult(record.result, &error); // only the offered list misses it
    hide();
    emit saved(record.id);
    return true;
}
