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
// itself; a refused save keeps every box as typed. A time or 下次回访 the
// user leaves alone is saved as it was stored, even one the boxes cannot
// show (written by hand or by another program). A time still to come, or a
// 下次回访 in the past or more than a year ahead, is asked about first: such a
// record would decide the person's place in the due list.
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

    // The record as the boxes hold it (a field not changed since it was
    // opened as it was opened).
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
    // Asks every question the record's dates raise; false when the user
    // said 否 to one.
    bool datesConfirmed(const FollowUpRecord &record);

    FollowUpRecord m_record;    // the record as opened
    bool m_timeChanged = false; // by the user since it was opened
    bool m_nextChanged = false;
    QLabel *m_mobileLabel = nullptr;
    QDateTimeEdit *m_time = nullptr;
    QComboBox *m_method = nullptr;
    QComboBox *m_result = nullptr;
    QPlainTextEdit *m_content = nullptr;
    QComboBox *m_next = nullptr;
    QDateEdit *m_nextDate = nullptr;
    QLabel *m_keptNote = nullptr; // names a stored text the boxes cannot show
};
