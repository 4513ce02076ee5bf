#include "followup/ui/exportrun.h"

#include <QProgressDialog>
#include <QThread>
#include <QTimer>

ExportRun::ExportRun(const QString &databasePath, const QString &path,
                     RecordExport::Format format, qsizetype total, QWidget *window)
    : m_databasePath(databasePath)
    , m_path(path)
    , m_format(format)
{
    m_progress = new QProgressDialog(QStringLiteral("正在导出回访记录…"), QStringLiteral("取消"), 0,
                                     int(std::min<qsizetype>(total, INT_MAX)), window);
    m_progress->setObjectName(QStringLiteral("exportProgress"));
    m_progress->setWindowTitle(QStringLiteral("导出回访记录"));
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(500);
    m_progress->setAutoReset(false);
    m_progress->setAutoClose(false);
    connect(m_progress, &QProgressDialog::canceled, this, &ExportRun::cancel);
    m_poll = new QTimer(this);
    m_poll->setInterval(100);
    connect(m_poll, &QTimer::timeout, this, [this] {
        if (m_progress)
            m_progress->setValue(int(std::min<qsizetype>(m_written, m_progress->maximum())));
    });
}

ExportRun::~ExportRun()
{
    if (m_thread) {
        m_cancel = true;
        m_thread->wait();
        delete m_thread;
    }
    delete m_progress;
}

void ExportRun::start()
{
    m_thread = QThread::create([this] {
        m_ok = RecordExport::writeFromFile(
            m_databasePath, m_path, m_format,
            [this](qsizetype written) {
                m_written = written;
                return !m_cancel;
            },
            &m_error);
    });
    connect(m_thread, &QThread::finished, this, [this] {
        m_poll->stop();
        if (m_progress)
            m_progress->hide();
        emit finished(m_ok, m_cancel, m_error);
    });
    m_progress->setValue(0);
    m_poll->start();
    m_thread->start();
}
