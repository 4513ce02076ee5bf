#pragma once

#include <QString>

// Where the SMS text goes when the program is told to stop and the database
// cannot take it: a UTF-8 text file beside the database, which the next
// start puts back into the SMS box.
class SmsRecoveryFile
{
public:
    inline static const QString FileName = QStringLiteral("未保存的短信内容.txt");

    explicit SmsRecoveryFile(const QString &databasePath);

    QString path() const { return m_path; }

    // Written whole or not at all; on failure error names the file and why.
    bool write(const QString &text, QString *error) const;
    // False when there is no file or it cannot be read.
    bool read(QString *text) const;
    bool remove() const;

private:
    QString m_path;
};
