#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

// Shown while long work runs: the command's name as title, what it does, a
// bar and 取消. Closing it (Esc, the title bar) asks for the cancel as well.
class ProgressDialog : public QDialog
{
    Q_OBJECT

public:
    ProgressDialog(const QString &title, const QString &text, QWidget *owner);

    // total <= 0: not known, the bar just shows that work goes on.
    void showProgress(qint64 done, qint64 total);

signals:
    void cancelRequested();

protected:
    void reject() override;

private:
    QProgressBar *m_bar = nullptr;
};
