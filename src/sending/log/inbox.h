#pragma once

#include "sending/log/logdatabase.h"

#include <QDateTime>
#include <QList>
#include <QString>

class Database;

struct ReceivedMessage
{
    QString mobile;
    QString name; // of a contact with this mobile, "" when none
    QString text;
    QString time;
    QString deviceName; // the SIM or phone that received it
};

// The messages the modems and phones received (收到的短信).
class Inbox
{
public:
    explicit Inbox(Database &database);

    // A message already recorded from the same device with the same sender,
    // text and time stamp (read again from the modem or the phone) is not
    // added twice; added tells whether this one was new.
    LogResult add(const QString &device, const QString &mobile, const QString &text,
                  const QString &stamp, const QDateTime &time, const QString &smsPath,
                  bool *added, QString *error);
    // Newest first.
    LogResult messages(QList<ReceivedMessage> *out, QString *error) const;
    // The newest time stamp of a message a phone received (its date in ms
    // since the epoch), 0 when none.
    LogResult newestPhoneStamp(qint64 *out, QString *error) const;

private:
    LogDatabase m_db;
};
