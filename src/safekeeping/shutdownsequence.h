#pragma once

#include <QDate>
#include <QString>

#include <functional>

class AppSession;
class QWidget;

// What closing the main window does. The SMS text is stored first, while the
// window is still shown: when that fails the user is asked 重试 / 仍然退出
// (closing that question keeps the window open). When the program has been
// told to stop, nobody is asked: the text goes to the recovery file beside
// the database. Then the window goes, the database is closed and the day's
// backup written. Whatever could not be saved makes the exit status non-zero.
class ShutdownSequence
{
public:
    explicit ShutdownSequence(AppSession &session,
                              std::function<QDate()> today = &QDate::currentDate);

    // For MainWindow::setShutdownHandler: false keeps the window open.
    bool run(QWidget *window, const QString &smsText);

    // Told to stop (a signal): no more questions; one on screen is closed
    // and the close goes on as if 仍然退出 had been chosen.
    void requestTermination();

    // 0 when everything was saved, 1 otherwise.
    int exitStatus() const { return m_somethingLost ? 1 : 0; }

private:
    enum class SmsOutcome { Stored, KeptAside, Lost, StayOpen };

    SmsOutcome storeSmsText(QWidget *window, const QString &smsText, QStringList &problems);
    bool keepInRecoveryFile(const QString &smsText, const QString &reason, QStringList &problems);
    void report(const QStringList &problems) const;

    AppSession &m_session;
    std::function<QDate()> m_today;
    bool m_terminating = false;
    bool m_running = false;
    bool m_somethingLost = false;
};
