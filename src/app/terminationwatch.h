#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a logout, a "kill", Ctrl+C in the
// terminal) into a signal delivered by the event loop, so the program can
// close its window the normal way and keep the SMS text and the backup.
// One instance at a time.
class TerminationWatch : public QObject
{
    Q_OBJECT

public:
    explicit TerminationWatch(QObject *parent = nullptr);
    ~TerminationWatch() override;

    bool isActive() const { return m_notifier != nullptr; }

signals:
    void terminationRequested();

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};
