#include "safekeeping/shutdownsequence.h"

#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "safekeeping/appsession.h"
#include "safekeeping/smsrecoveryfile.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QSaveFile>
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
    if (m_leaving)
        m_leaving();
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
            return keepAside(window, smsText, error, problems);
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
            return keepAside(window, smsText, error, problems);
        return SmsOutcome::StayOpen;
    }
    return SmsOutcome::Stored;
}

ShutdownSequence::SmsOutcome ShutdownSequence::keepAside(QWidget *window, const QString &smsText,
                                                         const QString &reason, QStringList &problems)
{
    const SmsRecoveryFile recovery(m_session.databasePath());
    QString error;
    if (recovery.write(smsText, &error)) {
        problems << QStringLiteral("短信内容未能保存到数据库（%1），已另存到 %2，下次启动时放回短信框。")
                        .arg(reason, QDir::toNativeSeparators(recovery.path()));
        return SmsOutcome::KeptAside;
    }
    // Nowhere of our own to keep it: the user says where, or takes it along.
    const QMessageBox::StandardButton answer = MessageBox::askSaveCopyOrQuit(
        window, QStringLiteral("短信内容未能保存：%1\n也未能另存：%2\n\n"
                               "可以点“另存为…”把短信内容保存到您选择的文件，或点“复制”后粘贴到别处；"
                               "点“仍然退出”则短信内容丢失；关闭本提示则回到窗口。")
                    .arg(reason, error));
    if (answer == QMessageBox::Save) {
        const QString chosen = saveToChosenFile(window, smsText);
        if (!chosen.isEmpty()) {
            problems << QStringLiteral("短信内容未能保存到数据库（%1），已另存到 %2。")
                            .arg(reason, QDir::toNativeSeparators(chosen));
            return SmsOutcome::KeptAside;
        }
    } else if (answer == QMessageBox::SaveAll) {
        QGuiApplication::clipboard()->setText(smsText);
    } else if (answer == QMessageBox::Ignore) {
        problems << QStringLiteral("短信内容未能保存：%1；也未能另存：%2").arg(reason, error);
        return SmsOutcome::Lost;
    }
    return SmsOutcome::StayOpen;
}

QString ShutdownSequence::saveToChosenFile(QWidget *window, const QString &smsText)
{
    QString path = FileDialog::saveFileName(window, QStringLiteral("另存为"), QString(),
                                            QStringLiteral("文本文件(*.txt)"));
    if (path.isEmpty())
        return QString();
    QSaveFile file(path);
    const QByteArray bytes = smsText.toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return path;
    MessageBox::warning(window, QStringLiteral("无法写入文件 %1：%2")
                                    .arg(QDir::toNativeSeparators(path), file.errorString()));
    return QString();
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
