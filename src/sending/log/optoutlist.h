#pragma once

#include "sending/log/logdatabase.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class Database;

struct OptOut
{
    QString mobile;
    QString time;
    QString source;
};

// The numbers never to be sent to again (退订名单).
class OptOutList
{
public:
    explicit OptOutList(Database &database);

    // Adds the numbers not yet on the list; added receives how many were new.
    LogResult add(const QStringList &mobiles, const QString &source, const QDateTime &time,
                  int *added, QString *error);
    LogResult remove(const QStringList &mobiles, QString *error);
    // Newest first.
    LogResult entries(QList<OptOut> *out, QString *error) const;
    LogResult numbers(QSet<QString> *out, QString *error) const;
    // Only an answer of Ok tells: anything else is "cannot say", and a
    // message to the number must not leave.
    LogResult contains(const QString &mobile, bool *optedOut, QString *error) const;

private:
    LogDatabase m_db;
};
