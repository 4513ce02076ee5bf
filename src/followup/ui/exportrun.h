#pragma once

#include "followup/recordexport.h"

#include <QObject>
#include <QPointer>

#include <atomic>

class QProgressDialog;
class QThread;
class QTimer;
class QWidget;

// One export of the records on a worker thread, through a connection of its
// own, while a progress dialog over the window says how far it got. Its
// 取消 stops the export, and nothing is written then. Destroying the run
// cancels it and waits for the thread.
class ExportRun : public QObject
{
    Q_OBJECT

public:
    ExportRun(const QString &databasePath, const QString &path, RecordExport::Format format,
              qsizetype total, QWidget *window);
    ~ExportRun() override;

    void start();
    void cancel() { m_cancel = true; }
    QString path() const { return m_path; }

signals:
    // ok false: error says why; cancelled when the user stopped it.
    void finished(bool ok, bool cancelled, const QString &error);

private:
    QString m_databasePath;
    QString m_path;
    RecordExport::Format m_format;
    QThread *m_thread = nullptr;
    QPointer<QProgressDialog> m_progress; // a child of the window
    QTimer *m_poll = nullptr;
    std::atomic<qsizetype> m_written{0};
    std::atomic<bool> m_cancel{false};
    // Written by the worker, read once it finished.
    bool m_ok = false;
    QString m_error;
};
