#pragma once

#include "core/contact.h"
#include "sending/batchrecipients.h"

#include <QDialog>
#include <QPointer>

class BatchProgressView;
class BatchRunner;
class BatchStarter;
class DevicePicker;
class PaceEditor;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class SendingService;

// "直接发送短信": a new batch of the ticked contacts of the working list with
// the SMS text, or a batch of the log, sent through one or several modems or
// a phone at a pace, now or at a set time, and how far it got. Non-modal:
// the main window stays usable, and what the dialog was handed does not
// change once the batch has started.
class SendDialog : public QDialog
{
    Q_OBJECT

public:
    SendDialog(SendingService &service, BatchStarter &starter, QWidget *parent = nullptr);

    // A new batch of these contacts (their ticks decide) with this text.
    // Ignored while a batch of this dialog runs, waits or is paused.
    void prepare(const ContactList &contacts, const QString &text);
    // Shows a batch that runs (continued, resent, started at its time).
    void follow(BatchRunner *runner);
    // Has a batch that is not over, or one being written.
    bool isBusy() const;

    const BatchRecipients &recipients() const { return m_recipients; }
    // The batch as the controls say.
    BatchSettings settings() const;

    // "开始发送": asks about what would go out oddly, writes the batch (on a
    // worker thread; 取消 leaves none) and starts it, or leaves it to its time.
    void startSending();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void build();
    void devicesChanged();
    void choiceChanged();
    void recompute();
    void showEstimate();
    bool confirmOddities();
    void started(qint64 batch, BatchRunner *runner, const QString &error);
    // Shows how far runner got (nullptr: none) and locks the controls while
    // there is one.
    void attach(BatchRunner *runner);
    void lockControls(bool locked);
    void updateButtons();

    SendingService &m_service;
    BatchStarter &m_starter;
    ContactList m_contacts;
    QString m_text;
    BatchRecipients m_recipients;
    QPointer<BatchRunner> m_runner;
    BatchSettings::Channel m_lastChannel = BatchSettings::Channel::Modem;
    bool m_paceChosen = false;

    DevicePicker *m_devices = nullptr;
    QLabel *m_summary = nullptr;
    QLabel *m_warning = nullptr;
    QPlainTextEdit *m_preview = nullptr;
    QLabel *m_length = nullptr;
    QCheckBox *m_optOutLine = nullptr;
    PaceEditor *m_pace = nullptr;
    QLabel *m_help = nullptr;
    QLabel *m_estimate = nullptr;
    BatchProgressView *m_progress = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_pause = nullptr;
    QPushButton *m_stop = nullptr;
    QPushButton *m_close = nullptr;
};
