#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// Every message the program shows goes through here, titled "提示". Tests
// answer the next box in advance instead of a user.
class MessageBox
{
public:
    static void information(QWidget *parent, const QString &text);
    static void warning(QWidget *parent, const QString &text);
    // Yes/No question with the warning icon; true on Yes.
    static bool askYesNo(QWidget *parent, const QString &text);
    // 是 / 否 / 以后再说: Yes, No, or Close for 以后再说 (also what closing
    // the box without an answer gives).
    static QMessageBox::StandardButton askYesNoLater(QWidget *parent, const QString &text);
    // 重试 / 仍然退出 with the warning icon: Retry for 重试, Ignore for
    // 仍然退出, Cancel when the box was closed (Esc, its close box) without
    // either.
    static QMessageBox::StandardButton askRetryOrQuit(QWidget *parent, const QString &text);
    // 另存为… / 复制 / 仍然退出 with the warning icon: Save, SaveAll (copy),
    // Ignore, or Cancel when the box was closed without any of them.
    static QMessageBox::StandardButton askSaveCopyOrQuit(QWidget *parent, const QString &text);
    // Closes the box on screen, if any, as if dismissed (Cancel, or the
    // question's No).
    static void dismissOpenBox();

    // Test seam: the next box is not shown; it is recorded and answered.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    // Test seam: boxes without a prepared answer are recorded and answered
    // with OK (No for a yes/no question, Cancel for retry or quit) instead
    // of waiting for a user.
    static void setUnattended(bool unattended);
    static QString lastText();
    static int shownCount();
    static void resetRecord();

private:
    static QMessageBox::StandardButton show(QWidget *parent, QMessageBox::Icon icon,
                                            const QString &text,
                                            QMessageBox::StandardButtons buttons);
};
