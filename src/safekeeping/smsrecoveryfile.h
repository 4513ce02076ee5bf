#pragma once

#include "safekeeping/plainfile.h"

#include <QString>

// Where the SMS text goes when the program is told to stop and the database
// cannot take it: a UTF-8 text file beside the database, which the next
// start puts back into the SMS box. Only a regular file of that name is
// read, replaced or removed; a link or a special file is left alone.
class SmsRecoveryFile
{
public:
    inline static const QString FileName = QStringLiteral("未保存的短信内容.txt");

    explicit SmsRecoveryFile(const QString &databasePath);

    QString path() const { return m_path; }

    using ReadResult = PlainFile::ReadResult;

    // Written whole or not at all; on failure error names the file and why.
    bool write(const QString &text, QString *error) const;
    // Refused (error names the file and why): not a regular file, too large
    // or unreadable. UTF-8, or GB18030 when it is not UTF-8.
    ReadResult read(QString *text, QString *error) const;
    // Removes the file when it is a regular one.
    bool remove() const;

private:
    QString m_path;
};
