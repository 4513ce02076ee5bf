#pragma once

#include "commands/command.h"

#include <QStringList>

// Runs the integrity check over backup files, one after the other, and
// reports each result as soon as it is known. Progress counts the files done.
class RestoreCheckCommand : public Command
{
    Q_OBJECT

public:
    explicit RestoreCheckCommand(QStringList paths, QObject *parent = nullptr);

    QString title() const override;
    QString text() const override;

signals:
    // The file paths[index] was checked. groups and contacts are -1 unless it passed.
    void checked(int index, bool passed, const QString &reason, qint64 groups, qint64 contacts);

protected:
    bool run(WorkProgress &progress, QString *error) override;

private:
    const QStringList m_paths;
};
