#include "safekeeping/runningcopy.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

namespace {

const QByteArray ShowRequest = "show\n";
const QByteArray Confirmation = "ok\n";

} // namespace

RunningCopy::RunningCopy(const QString &databasePath, QObject *parent)
    : QObject(parent)
    , m_name(serverName(databasePath))
{
}

RunningCopy::~RunningCopy() = default;

QString RunningCopy::serverName(const QString &databasePath)
{
    // The same file reached through another path (a link, "..") gives the
    // same name; the database need not exist yet, its folder does.
    // So does a link to it from another folder: one database, one copy.
    const QFileInfo file(databasePath);
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    const QString target = file.isSymLink() ? file.canonicalFilePath() : QString();
    const QString canonical = !target.isEmpty() ? target
                              : (folder.isEmpty() ? file.absolutePath() : folder) + QLatin1Char('/')
                                    + file.fileName();
    // Per user too: two users' sockets never meet in the shared temp folder.
    const QByteArray key = canonical.toUtf8() + '\0' + QByteArray::number(uint(::getuid()));
    return QStringLiteral("lanzhou-sms-")
           + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(24));
}

bool RunningCopy::listen()
{
    if (!m_server) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, &RunningCopy::answer);
    }
    if (m_server->listen(m_name))
        return true;
    // We hold the lock, so a socket of that name is a crashed copy's.
    QLocalServer::removeServer(m_name);
    return m_server->listen(m_name);
}

void RunningCopy::stopAnswering()
{
    if (m_server)
        m_server->close();
}

void RunningCopy::answer()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const auto readRequest = [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine() == ShowRequest) {
                emit showRequested();
                socket->write(Confirmation);
                socket->flush();
            }
            socket->disconnectFromServer();
        };
        connect(socket, &QLocalSocket::readyRead, this, readRequest);
        readRequest(); // the request may have arrived with the connection
    }
}

bool RunningCopy::askToShow(const QString &databasePath, int timeoutMs)
{
    const QString name = serverName(databasePath);
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(int(deadline.remainingTime()))) {
            socket.write(ShowRequest);
            if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
                return false;
            while (!socket.canReadLine() && socket.waitForReadyRead(int(deadline.remainingTime()))) {
            }
            return socket.canReadLine() && socket.readLine() == Confirmation;
        }
        QThread::msleep(100);
    }
    return false;
}
