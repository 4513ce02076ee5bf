#pragma once

#include "core/contact.h"
#include "sending/batchrecipients.h"
#include "sending/sendinghub.h"

#include <QDialog>
#include <QTimer>

class CommandRunner;
class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimeEdit;

// "直接发送短信": sends the ticked contacts of the working list (or the rest
// of a batch from the log) through a modem or a phone, at a pace, and shows
// how far it got. Non-modal: the main window stays usable, and what the
// dialog was handed does not change once the batch has started.
class SendDialog : public QDialog
{
    Q_OBJECT

public:
    // A new batch is written to the log through commands, the runner of the
    // main window.
    SendDialog(SendingHub &hub, CommandRunner &commands, QWidget *parent = nullptr);

    // A new batch of these contacts (their ticks decide) with this text.
    // Ignored while a batch of this dialog runs, waits or is paused.
    void prepare(const ContactList &contacts, const QString &text);
    // The waiting recipients of a batch in the log.
    void prepareContinuation(qint64 batch);
    bool hasStarted() const { return m_runner != nullptr || m_preparing; }

    const BatchRecipients &recipients() const { return m_recipients; }
    // The pace and channel as the controls say.
    BatchSettings settings() const;

    // "开始发送": writes the batch to the log (on a worker thread, the window
    // going on meanwhile; 取消 leaves no batch) and starts it.
    void startSending();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void build();
    void fillDevices();
    void deviceChosen();
    void recompute();
    void showPreview();
    void attachRunner(BatchRunner *runner);
    void detachRunner();
    // The device and pace controls, off while a batch is written or runs.
    void lockControls(bool locked);
    void showProgress();
    void updateButtons();
    void loadRemembered();
    void remember();
    void tryCreateBatch();
    // The new batch written by a command; 0 when it was not (cancelled,
    // failed, or the file busy and a retry set up).
    qint64 writeNewBatch(const BatchSettings &chosen);
    std::optional<SendDevice> chosenDevice() const;

    SendingHub &m_hub;
    CommandRunner &m_commands;
    bool m_preparing = false; // the command writing the new batch runs
    ContactList m_contacts;
    QString m_text;
    qint64 m_continuedBatch = 0;
    BatchSettings m_continuedSettings;
    int m_continuedWaiting = 0;
    BatchRecipients m_recipients;
    BatchRunner *m_runner = nullptr;
    QTimer m_busyRetry;
    QString m_lastDeviceId;
    bool m_lastWasPhone = false;

    QComboBox *m_devices = nullptr;
    QLabel *m_noDevice = nullptr;
    QLabel *m_summary = nullptr;
    QLabel *m_warning = nullptr;
    QPlainTextEdit *m_preview = nullptr;
    QLabel *m_length = nullptr;
    QCheckBox *m_optOutLine = nullptr;
    QSpinBox *m_interval = nullptr;
    QSpinBox *m_perHour = nullptr;
    QSpinBox *m_perDay = nullptr;
    QCheckBox *m_windowOn = nullptr;
    QTimeEdit *m_windowStart = nullptr;
    QTimeEdit *m_windowEnd = nullptr;
    QLabel *m_help = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_pause = nullptr;
    QPushButton *m_stop = nullptr;
    QPushButton *m_close = nullptr;
};
