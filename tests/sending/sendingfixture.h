#pragma once

#include "sending/sendlog.h"
#include "storage/database.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A fresh contact database with the send log's tables, in a folder of its own.
class SendLogFile
{
public:
    // false (with error) when the file could not be made.
    bool open(QString *error);
    Database &database() { return m_database; }
    SendLog &log() { return *m_log; }
    QString path() const;

    // The states of a batch's recipients, in order, as the file says.
    QStringList states(qint64 batch);
    QStringList notes(qint64 batch);

private:
    QTemporaryDir m_folder;
    Database m_database;
    std::unique_ptr<SendLog> m_log;
};

// The batch's recipients with these numbers, each getting "<text> <number>".
QList<BatchRecipient> recipientsFor(const QStringList &mobiles, const QString &text);
