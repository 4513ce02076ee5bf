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

    // Test seam: the next box is not shown; it is recorded and answered.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    // Test seam: boxes without a prepared answer are recorded and answered
    // with OK (or No for a question) instead of waiting for a user.
    static void setUnattended(bool unattended);
    static QString lastText();
    static int shownCount();
    static void resetRecord();

private:
    static QMessageBox::StandardButton show(QWidget *parent, QMessageBox::Icon icon,
                                            const QString &text,
                                            QMessageBox::StandardButtons buttons);
};
