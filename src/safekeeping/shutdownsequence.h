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
// the database. When that cannot be written either, the window stays and the
// user may save the text to a file of their choosing or copy it. Then the
// window goes, the database is closed and the day's backup written. Whatever
// could not be saved makes the exit status non-zero.
class ShutdownSequence
{
public:
    explicit ShutdownSequence(AppSession &session,
                              std::function<QDate()> today = &QDate::currentDate);

    // For MainWindow::setShutdownHandler: false keeps the window open.
    bool run(QWidget *window, const QString &smsText);

    // Runs once the window is about to go, before the database is closed
    // and the backup written.
    void setLeavingHandler(std::function<void()> leaving) { m_leaving = std::move(leaving); }

    // Told to stop (a signal): no more questions; one on screen is closed
    // and the close goes on as if 仍然退出 had been chosen.
    void requestTermination();

    // 0 when everything was saved, 1 otherwise.
    int exitStatus() const { return m_somethingLost ? 1 : 0; }

private:
    enum class SmsOutcome { Stored, KeptAside, Lost, StayOpen };

    SmsOutcome storeSmsText(QWidget *window, const QString &smsText, QStringList &problems);
    // The recovery file, or where the user chooses; StayOpen when neither.
    SmsOutcome keepAside(QWidget *window, const QString &smsText, const QString &reason,
                         QStringList &problems);
    // The chosen path, "" when none was chosen or it could not be written.
    static QString saveToChosenFile(QWidget *window, const QString &smsText);
    void report(const QStringList &problems) const;

    AppSession &m_session;
    std::function<QDate()> m_today;
    std::function<void()> m_leaving;
    bool m_terminating = false;
    bool m_running = false;
    bool m_somethingLost = false;
};
