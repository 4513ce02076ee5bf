#include "safekeeping/shutdownsequence.h"

#include "desktop/messagebox.h"
#include "safekeeping/appsession.h"
#include "safekeeping/smsrecoveryfile.h"

#include <QDir>
#include <QStringList>
#include <QWidget>

#include <cstdio>

ShutdownSequence::ShutdownSequence(AppSession &session, std::function<QDate()> today)
    : m_session(session)
    , m_today(std::move(today))
{
}

void ShutdownSequence::requestTermination()
{
    m_terminating = true;
    MessageBox::dismissOpenBox();
}

bool ShutdownSequence::run(QWidget *window, const QString &smsText)
{
    // A second close while the question is open (a signal) waits for the first.
    if (m_running)
        return false;
    m_running = true;
    QStringList problems;
    const SmsOutcome sms = storeSmsText(window, smsText, problems);
    m_running = false;
    if (sms == SmsOutcome::StayOpen)
        return false;

    if (sms != SmsOutcome::Stored)
        m_somethingLost = true;
    window->hide();
    const QStringList later = m_session.closeAndBackUp(m_today());
    if (!later.isEmpty())
        m_somethingLost = true;
    report(problems + later);
    return true;
}

ShutdownSequence::SmsOutcome ShutdownSequence::storeSmsText(QWidget *window, const QString &smsText,
                                                            QStringList &problems)
{
    QString error;
    while (!m_session.saveSmsText(smsText, &error)) {
        if (m_terminating)
            return keepInRecoveryFile(smsText, error, problems) ? SmsOutcome::KeptAside
                                                                : SmsOutcome::Lost;
        const QString recoveryPath =
            QDir::toNativeSeparators(SmsRecoveryFile(m_session.databasePath()).path());
        const QMessageBox::StandardButton answer = MessageBox::askRetryOrQuit(
            window, QStringLiteral("短信内容未能保存：%1\n\n"
                                   "可以点“重试”再保存一次；点“仍然退出”则短信内容另存到 %2，"
                                   "下次启动时放回短信框；关闭本提示则回到窗口。")
                        .arg(error, recoveryPath));
        if (answer == QMessageBox::Retry && !m_terminating)
            continue;
        if (answer == QMessageBox::Ignore || m_terminating)
            return keepInRecoveryFile(smsText, error, problems) ? SmsOutcome::KeptAside
                                                                : SmsOutcome::Lost;
        return SmsOutcome::StayOpen;
    }
    return SmsOutcome::Stored;
}

bool ShutdownSequence::keepInRecoveryFile(const QString &smsText, const QString &reason,
                                          QStringList &problems)
{
    const SmsRecoveryFile recovery(m_session.databasePath());
    QString error;
    if (recovery.write(smsText, &error)) {
        problems << QStringLiteral("短信内容未能保存到数据库（%1），已另存到 %2，下次启动时放回短信框。")
                        .arg(reason, QDir::toNativeSeparators(recovery.path()));
        return true;
    }
    problems << QStringLiteral("短信内容未能保存：%1；也未能另存：%2").arg(reason, error);
    return false;
}

void ShutdownSequence::report(const QStringList &problems) const
{
    if (problems.isEmpty())
        return;
    const QString text = problems.join(QLatin1Char('\n'));
    // Told to stop, nobody may be there to close a box: the terminal (or the
    // session's log) gets the report instead.
    if (m_terminating) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return;
    }
    MessageBox::warning(nullptr, text);
}
