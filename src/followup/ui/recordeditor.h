#pragma once

#include "followup/followuprecord.h"

#include <QDialog>

#include <functional>

class FollowUpStore;
class QComboBox;
class QDateEdit;
class QDateTimeEdit;
class QLabel;
class QPlainTextEdit;

// "回访记录 - 添加" / "修改": one record of one number. Saves into the store
// itself; a refused save keeps every box as typed.
class RecordEditor : public QDialog
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    RecordEditor(FollowUpStore &store, Clock clock, QWidget *parent);

    // A new record for mobile: the time given (now, or when a call began),
    // 下次回访 none.
    void openForAdd(const QString &mobile, const QString &method, const QDateTime &time);
    void openForEdit(const FollowUpRecord &record);

    // The record as the boxes hold it.
    FollowUpRecord typedRecord() const;

    // Sets 下次回访 to a date of the user's choice (or none for an invalid one).
    void setNextDate(QDate date);
    // Chooses one of the offered 下次回访 entries.
    void setNextChoice(FollowUpRules::NextChoice choice);

    // Saves the record; false when it was refused or the user took it back.
    bool save();

signals:
    void saved(qint64 id);

private:
    void open(const FollowUpRecord &record);
    void loadResults();

    FollowUpStore &m_store;
    Clock m_clock;
    FollowUpRecord m_record; // the record as opened (id, mobile)
    QLabel *m_mobileLabel = nullptr;
    QDateTimeEdit *m_time = nullptr;
    QComboBox *m_method = nullptr;
    QComboBox *m_result = nullptr;
    QPlainTextEdit *m_content = nullptr;
    QComboBox *m_next = nullptr;
    QDateEdit *m_nextDate = nullptr;
};
