#include "phonebookfile.h"

#include "atomicfile.h"
#include "textrules.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>

namespace PhoneBookFile {

namespace {

const QString CrLf = QStringLiteral("\r\n");
const QString Separator = QStringLiteral("々");
const QString EndMarker = QStringLiteral("$$$$$$$$$$$@ @ @ @");
const QString RecordEnd = QStringLiteral("@ @ @ @");

// Calls lineFound for every line of text; a line ends at CR LF, CR or LF.
// A final line without a break is reported as well.
template<typename Function>
void forEachLine(QStringView text, Function lineFound)
{
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lineFound(text.mid(start, i - start), true);
        if (c == u'\r' && i + 1 < size && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lineFound(text.mid(start), false);
}

QStringView trimmedBlanks(QStringView text)
{
    while (!text.isEmpty() && text.front() == u' ')
        text = text.mid(1);
    while (!text.isEmpty() && text.back() == u' ')
        text.chop(1);
    return text;
}

// "@@" becomes "@ @", matches taken left to right without overlap ("@@@"
// gives "@ @@"), as the phone app expects.
void appendWithSpacedAts(QString &out, QStringView text)
{
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        out += text[i];
        if (text[i] == u'@' && i + 1 < size && text[i + 1] == u'@') {
            out += u' ';
            out += u'@';
            ++i;
        }
    }
}

// Appends the record for one line of the recipient list, unless the line is
// left out: blank, or its first number is not exactly 11 characters long.
void appendRecord(QString &out, QStringView recipientLine)
{
    const QStringView line = trimmedBlanks(recipientLine);
    if (line.isEmpty() || TextRules::firstNumber(line).size() != 11)
        return;
    appendWithSpacedAts(out, line);
    out += RecordEnd;
    out += CrLf;
}

} // namespace

QByteArray content(const QString &smsText, const QString &recipientText)
{
    QString text;
    text.reserve(smsText.size() + recipientText.size() * 13 / 10 + 64);

    forEachLine(smsText, [&text](QStringView line, bool broken) {
        text += line;
        if (broken)
            text += CrLf;
    });
    text += CrLf + Separator + CrLf;

    forEachLine(recipientText, [&text](QStringView line, bool) { appendRecord(text, line); });
    text += EndMarker + CrLf + Separator + CrLf;

    // Qt's GBK encoder writes "?" for a character it cannot hold (one "?"
    // per character, also for a surrogate pair), so the file stays valid GBK.
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

bool write(const QString &fileName, const QString &smsText, const QString &recipientText,
           QString *error)
{
    const QByteArray bytes = content(smsText, recipientText);
    QString reason;
    const bool written = AtomicFile::write(
        fileName,
        [&bytes](const QString &temporaryPath, QString *writeError) {
            QFile file(temporaryPath);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                || file.write(bytes) != bytes.size() || !file.flush()) {
                *writeError = file.errorString();
                return false;
            }
            return true;
        },
        &reason);
    if (!written && error) {
        *error = QStringLiteral("无法写入手机通讯录文件：%1\n%2")
                     .arg(QDir::toNativeSeparators(fileName), reason);
    }
    return written;
}

QString fileNameFor(const QString &chosenPath)
{
    return chosenPath + QStringLiteral(".xcl");
}

} // namespace PhoneBookFile
