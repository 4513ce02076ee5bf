#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// How a second start reaches the copy that already runs on the same
// database: a local socket whose name is derived from the database's
// canonical path, over which the second start asks the first to bring its
// window to the front.
class RunningCopy : public QObject
{
    Q_OBJECT

public:
    explicit RunningCopy(const QString &databasePath, QObject *parent = nullptr);
    ~RunningCopy() override;

    // Starts answering later starts. Call it only while holding the
    // database's InstanceLock: a socket left by a crashed copy is removed.
    bool listen();
    // Stops answering: the window has closed, the copy is about to end.
    void stopAnswering();

    // Asks the running copy to show its window; true once it confirmed.
    // Keeps trying for a while, since that copy may still be starting.
    static bool askToShow(const QString &databasePath, int timeoutMs = 3000);

    static QString serverName(const QString &databasePath);

signals:
    void showRequested();

private:
    void answer();

    QString m_name;
    QLocalServer *m_server = nullptr;
};
