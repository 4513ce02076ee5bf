#pragma once

#include "sending/log/logdatabase.h"

#include <QString>

class Database;

// The send dialog's remembered choices (发送设置), by name.
class SendSettings
{
public:
    explicit SendSettings(Database &database);

    // fallback when there is none or it cannot be read.
    QString value(const QString &name, const QString &fallback = QString()) const;
    LogResult setValue(const QString &name, const QString &value, QString *error);

private:
    LogDatabase m_db;
};
