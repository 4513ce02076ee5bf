#pragma once

#include "followup/followupstore.h"
#include "storage/database.h"

#include <QTemporaryDir>

#include <memory>

// A fresh database from the template, brought up to the new tables, with a
// follow-up store over it.
class FollowUpFixture
{
public:
    bool open(QString *error);

    Database &database() { return m_database; }
    ContactStore &contacts() { return *m_contacts; }
    FollowUpStore &store() { return *m_store; }
    QString folder() const { return m_dir.path(); }

    // A record as a row of a test table: "mobile|time|method|result|nextDate".
    static FollowUpRecord parse(const QString &line);
    // Adds the record; false (with the store's reason) when refused.
    bool add(const QString &line, QString *error = nullptr);
    // A message of the send log (batch time batchTime, own time may be "").
    bool addSentMessage(const QString &mobile, const QString &text, const QString &state,
                        const QString &time, const QString &batchTime = QStringLiteral("2026-12-01 08:00:00"));
    bool addContact(const QString &group, const QString &mobile, const QString &name);

private:
    QTemporaryDir m_dir;
    Database m_database;
    std::unique_ptr<ContactStore> m_contacts;
    std::unique_ptr<FollowUpStore> m_store;
};
