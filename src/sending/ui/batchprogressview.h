#pragma once

#include <QPointer>
#include <QWidget>

class BatchRunner;
class QLabel;
class QProgressBar;
class QTableWidget;

// How far a batch got: a bar, the counts, the estimated end and what the
// batch waits for; with several devices a row for each (sent, failed, left,
// its end, its state).
class BatchProgressView : public QWidget
{
    Q_OBJECT

public:
    explicit BatchProgressView(QWidget *parent = nullptr);

    // Follows runner (nullptr: empty).
    void follow(BatchRunner *runner);
    // A line of its own while no batch runs ("数据库正忙，稍后自动重试…").
    void showNote(const QString &note);

    // "预计 12月9日 15:40 发完", or "" when unknown.
    static QString endText(const QDateTime &end, const QDateTime &now);

private:
    void refresh();

    QPointer<BatchRunner> m_runner;
    QProgressBar *m_bar = nullptr;
    QLabel *m_status = nullptr;
    QTableWidget *m_devices = nullptr;
};
