#pragma once

#include "sending/log/logdatabase.h"

#include <QDateTime>
#include <QList>
#include <QString>

class Database;

// Every message handed to a device, counted apart from its batch (table
// 发出的短信, written with the recipient's 发送中): the hourly and daily caps
// and the interval read it, so neither deleting a batch nor a failure (the
// device may have sent all the same) frees a SIM's quota.
class SendLedger
{
public:
    explicit SendLedger(Database &database);

    // The time of the device's n-th newest message (1: the last); invalid
    // when fewer were handed to it.
    LogResult nthNewest(const QString &device, int n, QDateTime *out, QString *error) const;
    // The times of the device's messages since a time, oldest first.
    LogResult since(const QString &device, const QDateTime &from, QList<QDateTime> *out,
                    QString *error) const;
    // Forgets what is older than any cap looks back.
    LogResult prune(const QDateTime &before, QString *error);

private:
    LogDatabase m_db;
};
