#include "desktop/messagebox.h"

#include <QAbstractButton>
#include <QPointer>
#include <QQueue>

namespace {

QQueue<QMessageBox::StandardButton> &pendingAnswers()
{
    static QQueue<QMessageBox::StandardButton> answers;
    return answers;
}

QString g_lastText;
int g_shownCount = 0;
bool g_unattended = false;
QPointer<QMessageBox> g_openBox;

} // namespace

void MessageBox::information(QWidget *parent, const QString &text)
{
    show(parent, QMessageBox::Information, text, QMessageBox::Ok);
}

void MessageBox::warning(QWidget *parent, const QString &text)
{
    show(parent, QMessageBox::Warning, text, QMessageBox::Ok);
}

bool MessageBox::askYesNo(QWidget *parent, const QString &text)
{
    return show(parent, QMessageBox::Warning, text, QMessageBox::Yes | QMessageBox::No)
           == QMessageBox::Yes;
}

QMessageBox::StandardButton MessageBox::askYesNoLater(QWidget *parent, const QString &text)
{
    return show(parent, QMessageBox::Question, text,
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Close);
}

QMessageBox::StandardButton MessageBox::askRetryOrQuit(QWidget *parent, const QString &text)
{
    return show(parent, QMessageBox::Warning, text,
                QMessageBox::Retry | QMessageBox::Ignore | QMessageBox::Cancel);
}

QMessageBox::StandardButton MessageBox::askSaveCopyOrQuit(QWidget *parent, const QString &text)
{
    return show(parent, QMessageBox::Warning, text,
                QMessageBox::Save | QMessageBox::SaveAll | QMessageBox::Ignore | QMessageBox::Cancel);
}

void MessageBox::dismissOpenBox()
{
    if (g_openBox)
        g_openBox->close();
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton answer)
{
    pendingAnswers().enqueue(answer);
}

void MessageBox::setUnattended(bool unattended)
{
    g_unattended = unattended;
}

QString MessageBox::lastText()
{
    return g_lastText;
}

int MessageBox::shownCount()
{
    return g_shownCount;
}

void MessageBox::resetRecord()
{
    pendingAnswers().clear();
    g_unattended = false;
    g_lastText.clear();
    g_shownCount = 0;
}

QMessageBox::StandardButton MessageBox::show(QWidget *parent, QMessageBox::Icon icon,
                                             const QString &text,
                                             QMessageBox::StandardButtons buttons)
{
    g_lastText = text;
    ++g_shownCount;
    if (!pendingAnswers().isEmpty())
        return pendingAnswers().dequeue();
    if (g_unattended) {
        if (buttons.testFlag(QMessageBox::Cancel))
            return QMessageBox::Cancel;
        if (buttons.testFlag(QMessageBox::Close))
            return QMessageBox::Close;
        return buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
    }

    QMessageBox box(icon, QStringLiteral("提示"), text, buttons, parent);
    box.setObjectName(QStringLiteral("messageBox"));
    // The buttons speak the program's language whatever Qt translations exist.
    const struct
    {
        QMessageBox::StandardButton button;
        const char *caption;
    } captions[] = {{QMessageBox::Ok, "确定"},       {QMessageBox::Yes, "是(&Y)"},
                    {QMessageBox::No, "否(&N)"},     {QMessageBox::Retry, "重试"},
                    {QMessageBox::Ignore, "仍然退出"}, {QMessageBox::Save, "另存为…"},
                    {QMessageBox::SaveAll, "复制"},   {QMessageBox::Close, "以后再说"}};
    for (const auto &entry : captions) {
        if (QAbstractButton *button = box.button(entry.button))
            button->setText(QString::fromUtf8(entry.caption));
    }
    // Cancel is never shown: it is what Esc or the close box answer.
    if (QAbstractButton *cancel = box.button(QMessageBox::Cancel)) {
        box.setEscapeButton(cancel);
        cancel->hide();
    }
    if (QAbstractButton *later = box.button(QMessageBox::Close))
        box.setEscapeButton(later);
    g_openBox = &box;
    return QMessageBox::StandardButton(box.exec());
}
