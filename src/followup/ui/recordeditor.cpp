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
    m_keptNote = new QLabel(this);
    m_keptNote->setObjectName(QStringLiteral("keptNote"));
    m_keptNote->setWordWrap(true);
    m_keptNote->hide();
    form->addRow(m_keptNote);
    // Whatever open() sets is undone by the flags at its end.
    connect(m_time, &QDateTimeEdit::dateTimeChanged, this, [this] { m_timeChanged = true; });
    connect(m_next, &QComboBox::currentIndexChanged, this, [this] { m_nextChanged = true; });
    // 不安排 chosen again while it shows (a date the box could not show).
    connect(m_next, &QComboBox::activated, this, [this] { m_nextChanged = true; });
    connect(m_nextDate, &QDateEdit::dateChanged, this, [this] { m_nextChanged = true; });

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
    const QDateTime time = FollowUpRules::parseTime(record.time);
    m_time->setDateTime(time.isValid() ? time : m_clock());
    m_method->setCurrentText(record.method);
    m_result->setCurrentText(record.result);
    m_content->setPlainText(record.content);
    // The date box starts where a chosen date most likely lies.
    m_nextDate->setDate(m_clock().date().addDays(1));
    const QDate next = FollowUpRules::parseDate(record.nextDate);
    setNextDate(next);
    QStringList kept;
    if (!time.isValid())
        kept << QStringLiteral("时间“%1”").arg(record.time);
    if (!record.nextDate.isEmpty() && !next.isValid())
        kept << QStringLiteral("下次回访“%1”").arg(record.nextDate);
    m_keptNote->setText(kept.isEmpty() ? QString()
                                       : QStringLiteral("记录中的%1无法显示，不修改就保持原样。")
                                             .arg(kept.join(QStringLiteral("、"))));
    m_keptNote->setVisible(!kept.isEmpty());
    m_timeChanged = false;
    m_nextChanged = false;
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
    m_nextChanged = true;
    for (int i = 0; i < OwnDateEntry; ++i) {
        if (NextEntries[i].choice == choice)
            m_next->setCurrentIndex(i);
    }
}

FollowUpRecord RecordEditor::typedRecord() const
{
    FollowUpRecord record = m_record;
    if (m_timeChanged)
        record.time = FollowUpRules::timeText(m_time->dateTime());
    record.method = m_method->currentText();
    record.result = m_result->currentText().trimmed();
    record.content = m_content->toPlainText();
    if (m_nextChanged)
        record.nextDate =
            m_next->currentIndex() == 0 ? QString() : FollowUpRules::dateText(m_nextDate->date());
    return record;
}

bool RecordEditor::save()
{
    FollowUpRecord record = typedRecord();
    const QString problem = FollowUpRules::problem(record, record.id > 0 ? &m_record : nullptr);
    if (!problem.isEmpty()) {
        MessageBox::warning(this, problem);
        return false;
    }
    if (!datesConfirmed(record))
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

bool RecordEditor::datesConfirmed(const FollowUpRecord &record)
{
    const QDateTime now = m_clock();
    const QDate today = now.date();
    const QDateTime time = FollowUpRules::parseTime(record.time);
    if (time.isValid() && time > now
        && !MessageBox::askYesNo(this,
                                 QStringLiteral("回访时间 %1 还没有到（现在是 %2），仍然保存吗？")
                                     .arg(record.time, FollowUpRules::timeText(now))))
        return false;
    const QDate next = FollowUpRules::parseDate(record.nextDate);
    if (next.isValid() && next < today
        && !MessageBox::askYesNo(
            this, QStringLiteral("下次回访日期 %1 已经过去，仍然保存吗？").arg(record.nextDate)))
        return false;
    if (next.isValid() && next > today.addYears(1)
        && !MessageBox::askYesNo(
            this, QStringLiteral("下次回访日期 %1 在一年以后，仍然保存吗？").arg(record.nextDate)))
        return false;
    return true;
}
