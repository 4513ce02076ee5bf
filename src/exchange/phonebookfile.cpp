#include "phonebookfile.h"

#include "atomicfile.h"
#include "gbkencoder.h"
#include "textrules.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>

namespace PhoneBookFile {

namespace {

constexpr char CrLf[] = "\r\n";
constexpr char RecordEnd[] = "@ @ @ @\r\n";
constexpr char Ending[] = "$$$$$$$$$$$@ @ @ @\r\n\xa1\xa9\r\n"; // end marker, "々"
constexpr char Separator[] = "\r\n\xa1\xa9\r\n"; // ends the SMS block, "々"

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

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool mayContinueNumber(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'.' || c == u'e' || c == u'E';
}

// The length of TextRules::firstNumber(line). A plain run of at most 15
// digits (the usual mobile) is measured directly; anything that could read
// on (a blank, a decimal point, an exponent) goes the long way.
qsizetype firstNumberLength(QStringView line)
{
    qsizetype begin = 0;
    while (begin < line.size() && !isDigit(line[begin]))
        ++begin;
    if (begin == line.size())
        return 0;
    qsizetype end = begin;
    while (end < line.size() && isDigit(line[end]))
        ++end;
    if (end - begin > 15 || (end < line.size() && mayContinueNumber(line[end])))
        return TextRules::firstNumber(line).size();
    while (begin < end - 1 && line[begin] == u'0') // leading zeros are not written
        ++begin;
    return end - begin;
}

// Writes into a buffer sized beforehand for the worst case.
class Output
{
public:
    explicit Output(qsizetype capacity)
        : m_bytes(capacity, Qt::Uninitialized)
        , m_end(m_bytes.data())
    {
    }

    template<qsizetype N>
    void literal(const char (&text)[N])
    {
        std::memcpy(m_end, text, N - 1);
        m_end += N - 1;
    }

    void text(QStringView text) { m_end = GbkEncoder::write(m_end, text); }

    QByteArray take()
    {
        m_bytes.truncate(m_end - m_bytes.data());
        return std::move(m_bytes);
    }

private:
    QByteArray m_bytes;
    char *m_end;
};

// Writes the record for one line of the recipient list, unless the line is
// left out: blank, or its first number is not exactly 11 characters long.
// "@@" becomes "@ @", matches taken left to right without overlap ("@@@"
// gives "@ @@"), as the phone app expects.
void writeRecord(Output &out, QStringView recipientLine)
{
    const QStringView line = trimmedBlanks(recipientLine);
    if (line.isEmpty() || firstNumberLength(line) != 11)
        return;
    qsizetype from = 0;
    for (qsizetype i = 0; i + 1 < line.size(); ++i) {
        if (line[i] == u'@' && line[i + 1] == u'@') {
            out.text(line.mid(from, i - from));
            out.literal("@ @");
            from = ++i + 1;
        }
    }
    out.text(line.mid(from));
    out.literal(RecordEnd);
}

// Room for the whole file: every unit takes at most two bytes (a line break
// too, "@@" three for two units), and each record adds its ending.
qsizetype worstCaseSize(const QString &smsText, const QString &recipientText)
{
    const char16_t *const units = QStringView(recipientText).utf16();
    const qsizetype breaks = std::count_if(units, units + recipientText.size(),
                                           [](char16_t c) { return c == u'\n' || c == u'\r'; });
    return GbkEncoder::MaxBytesPerUnit * (smsText.size() + recipientText.size())
        + qsizetype(sizeof RecordEnd) * (breaks + 1) + sizeof Separator + sizeof Ending;
}

} // namespace

QByteArray content(const QString &smsText, const QString &recipientText)
{
    Output out(worstCaseSize(smsText, recipientText));
    forEachLine(smsText, [&out](QStringView line, bool broken) {
        out.text(line);
        if (broken)
            out.literal(CrLf);
    });
    out.literal(Separator);
    forEachLine(recipientText, [&out](QStringView line, bool) { writeRecord(out, line); });
    out.literal(Ending);
    return out.take();
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
