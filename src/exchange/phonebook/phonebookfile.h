#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class WorkProgress;

// The phone contact-book file (.xcl) read by the companion phone app: the SMS
// text, a separator line, one record per recipient, an end marker and a
// closing separator, every line ended by CR LF, encoded in GBK without BOM.
namespace PhoneBookFile {

// Recipients whose line has a first number that is not 11 digits long: the
// file leaves them out.
struct LeftOut
{
    qsizetype count = 0;
    QStringList firstMobiles; // of the first few, as the lines begin

    // For the user, before the file's tip; empty when nobody was left out.
    QString message() const;
};

// The complete file as bytes. Line breaks typed into smsText (LF, CR or
// CR LF) are written as CR LF. recipientText is split into records at CR and
// CR LF only: a line feed inside a name or remark stays inside its record.
// A character that GBK cannot hold is written as "?".
QByteArray content(const QString &smsText, const QString &recipientText,
                   LeftOut *leftOut = nullptr);

// Writes content() to fileName atomically: on failure an older file of that
// name is left as it was and no partial file remains; error then holds a
// message for the user that names the file.
bool write(const QString &fileName, const QString &smsText, const QString &recipientText,
           QString *error);
// The same; leftOut (when given) receives what GBK could not hold.
bool write(const QString &fileName, const QString &smsText, const QString &recipientText,
           LeftOut *leftOut, QString *error);

// The file written for a path chosen in the save dialog: ".xcl" is always
// appended, even when the chosen name already ends in it.
QString fileNameFor(const QString &chosenPath);

// write() reporting the characters of recipientText done to progress and
// stopping when it is cancelled (no file then, an older one kept).
bool write(const QString &fileName, const QString &smsText, const QString &recipientText,
           WorkProgress *progress, LeftOut *leftOut, QString *error);

} // namespace PhoneBookFile
