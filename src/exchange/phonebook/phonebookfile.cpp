#include "exchange/phonebook/phonebookfile.h"

#include "core/atomicfile.h"
#include "core/cancelcheck.h"
#include "core/workprogress.h"
#include "core/textrules.h"
#include "exchange/phonebook/gbkencoder.h"

#include <QDir>
#include <QFile>

#include <cstring>
#include <functional>

namespace PhoneBookFile {

namespace {

constexpr char CrLf[] = "\r\n";
constexpr char RecordEnd[] = "@ @ @ @\r\n";
constexpr char Ending[] = "$$$$$$$$$$$@ @ @ @\r\n\xa1\xa9\r\n"; // end marker, "々"
constexpr char Separator[] = "\r\n\xa1\xa9\r\n"; // ends the SMS block, "々"

enum class LineEnds { CrLfCrOrLf, CrLfOrCr };

// Calls lineFound for every line of text; a line ends at CR LF, CR and (when
// asked) LF. A final line without a break is reported as well.
template<typename Function>
void forEachLine(QStringView text, LineEnds ends, Function lineFound)
{
    qsizetype start = 0;
    const qsizetype size = text.size();
    const bool lineFeedEnds = ends == LineEnds::CrLfCrOrLf;
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && (c != u'\n' || !lineFeedEnds))
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

// Collects the file's bytes in a buffer of fixed size and hands each full
// buffer to a sink, so that even a long list never sits in memory twice.
class Output
{
public:
    // Takes the next bytes of the file; false stops further output.
    using Sink = std::function<bool(const char *bytes, qsizetype size)>;

    explicit Output(Sink sink)
        : m_sink(std::move(sink))
        , m_buffer(1 << 20, Qt::Uninitialized)
        , m_end(m_buffer.data())
    {
    }

    template<qsizetype N>
    void literal(const char (&text)[N])
    {
        makeRoom(N - 1);
        std::memcpy(m_end, text, N - 1);
        m_end += N - 1;
    }

    void text(QStringView text)
    {
        makeRoom(text.size() * GbkEncoder::MaxBytesPerUnit);
        m_end = GbkEncoder::write(m_end, text);
    }

    // Hands over what is left; false when the sink refused anything.
    bool finish()
    {
        flush();
        return m_ok;
    }

private:
    void makeRoom(qsizetype size)
    {
        if (m_buffer.data() + m_buffer.size() - m_end >= size)
            return;
        flush();
        if (size > m_buffer.size()) {
            m_buffer.resize(size);
            m_end = m_buffer.data();
        }
    }

    void flush()
    {
        const qsizetype used = m_end - m_buffer.data();
        if (m_ok && used > 0)
            m_ok = m_sink(m_buffer.constData(), used);
        m_end = m_buffer.data();
    }

    Sink m_sink;
    QByteArray m_buffer;
    char *m_end;
    bool m_ok = true;
};

// Writes the record for one line of the recipient list, unless the line is
// left out: blank, or its first number is not exactly 11 characters long.
// "@@" becomes "@ @", matches taken left to right without overlap ("@@@"
// gives "@ @@"), as the phone app expects.
void writeRecord(Output &out, QStringView recipientLine, LeftOut *leftOut)
{
    constexpr qsizetype namedMobiles = 3;
    const QStringView line = trimmedBlanks(recipientLine);
    if (line.isEmpty())
        return;
    if (firstNumberLength(line) != 11) {
        if (leftOut && leftOut->count++ < namedMobiles) {
            const qsizetype at = line.indexOf(u'@');
            leftOut->firstMobiles.append(line.left(at < 0 ? line.size() : at).toString());
        }
        return;
    }
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

// false when progress was cancelled on the way (out then holds a part only).
// progress counts the characters of recipientText done.
bool generate(Output &out, QStringView smsText, QStringView recipientText, LeftOut *leftOut,
              WorkProgress *progress = nullptr)
{
    if (leftOut)
        *leftOut = LeftOut();
    forEachLine(smsText, LineEnds::CrLfCrOrLf, [&out](QStringView line, bool broken) {
        out.text(line);
        if (broken)
            out.literal(CrLf);
    });
    out.literal(Separator);
    if (progress)
        progress->setTotal(recipientText.size());
    constexpr int linesPerReport = 1024;
    int untilReport = linesPerReport;
    bool going = true;
    forEachLine(recipientText, LineEnds::CrLfOrCr, [&](QStringView line, bool) {
        if (!going)
            return;
        if (progress && --untilReport == 0) {
            untilReport = linesPerReport;
            going = progress->advance(line.constData() - recipientText.constData());
            if (!going)
                return;
        }
        writeRecord(out, line, leftOut);
    });
    out.literal(Ending);
    return going;
}

} // namespace

QString LeftOut::message() const
{
    if (count == 0)
        return QString();
    QString names = firstMobiles.join(u'、');
    if (count > firstMobiles.size())
        names += QStringLiteral(" 等");
    return QStringLiteral("有 %1 个号码不是 11 位数字，没有写入手机通讯录：%2").arg(count).arg(names);
}

QByteArray content(const QString &smsText, const QString &recipientText, LeftOut *leftOut)
{
    QByteArray bytes;
    bytes.reserve(smsText.size() * 2 + recipientText.size() * 3 / 2 + 64);
    Output out([&bytes](const char *data, qsizetype size) {
        bytes.append(data, size);
        return true;
    });
    generate(out, smsText, recipientText, leftOut);
    out.finish();
    return bytes;
}

bool write(const QString &fileName, const QString &smsText, const QString &recipientText,
           QString *error)
{
    return write(fileName, smsText, recipientText, nullptr, error);
}

bool write(const QString &fileName, const QString &smsText, const QString &recipientText,
           LeftOut *leftOut, QString *error)
{
    return write(fileName, smsText, recipientText, nullptr, leftOut, error);
}

bool write(const QString &fileName, const QString &smsText, const QString &recipientText,
           WorkProgress *progress, LeftOut *leftOut, QString *error)
{
    QString reason;
    const bool written = AtomicFile::write(
        fileName,
        [&](const QString &temporaryPath, QString *writeError) {
            QFile file(temporaryPath);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                *writeError = file.errorString();
                return false;
            }
            Output out([&file](const char *data, qsizetype size) {
                return file.write(data, size) == size;
            });
            if (!generate(out, smsText, recipientText, leftOut, progress)) {
                *writeError = WorkProgress::cancelledMessage();
                return false;
            }
            if (!out.finish() || !file.flush()) {
                *writeError = file.errorString();
                return false;
            }
            return true;
        },
        notCancelled(progress), &reason);
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
