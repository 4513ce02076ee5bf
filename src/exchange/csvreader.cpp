#include "csvreader.h"

#include <QFile>
#include <QStringDecoder>

#include <array>

namespace {

constexpr qint64 maxFileBytes = qint64(512) << 20;

// Stateless, so that a sequence cut short at the end counts as an error.
bool decodeStrictly(QStringDecoder decoder, QByteArrayView bytes, QString *text)
{
    if (!decoder.isValid())
        return false;
    *text = decoder.decode(bytes);
    return !decoder.hasError() && !text->contains(QChar(u'\0'));
}

// Walks the records of a text, field by field.
class CsvScanner
{
public:
    CsvScanner(QStringView text, QChar separator) : m_text(text), m_separator(separator) {}

    bool atEnd() const { return m_pos >= m_text.size(); }

    // Reads one field; *endOfRecord tells whether a line end (or the end of
    // the text) followed it. field may be null when the text is not wanted.
    void readField(QString *field, bool *endOfRecord)
    {
        if (m_pos < m_text.size() && m_text[m_pos] == u'"')
            readQuoted(field);
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] != m_separator && m_text[m_pos] != u'\n'
               && m_text[m_pos] != u'\r')
            ++m_pos;
        if (field)
            field->append(m_text.mid(start, m_pos - start));
        *endOfRecord = true;
        if (m_pos >= m_text.size())
            return;
        const QChar stop = m_text[m_pos++];
        if (stop == m_separator) {
            *endOfRecord = false;
        } else if (stop == u'\r' && m_pos < m_text.size() && m_text[m_pos] == u'\n') {
            ++m_pos;
        }
    }

private:
    // From the opening quote to just after the closing one; text after the
    // closing quote up to the separator still belongs to the field.
    void readQuoted(QString *field)
    {
        ++m_pos;
        for (;;) {
            const qsizetype quote = m_text.indexOf(u'"', m_pos);
            if (quote < 0) { // unterminated: the rest of the text
                if (field)
                    field->append(m_text.mid(m_pos));
                m_pos = m_text.size();
                return;
            }
            if (field)
                field->append(m_text.mid(m_pos, quote - m_pos));
            m_pos = quote + 1;
            if (m_pos < m_text.size() && m_text[m_pos] == u'"') {
                if (field)
                    field->append(u'"');
                ++m_pos;
            } else {
                return;
            }
        }
    }

    QStringView m_text;
    QChar m_separator;
    qsizetype m_pos = 0;
};

} // namespace

bool CsvReader::decode(const QByteArray &bytes, QString *text)
{
    constexpr auto stateless = QStringDecoder::Flag::Stateless;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return decodeStrictly(QStringDecoder(QStringDecoder::Utf8, stateless), QByteArrayView(bytes).sliced(3), text);
    const bool wholeUnits = bytes.size() % 2 == 0; // a UTF-16 decoder lets a lone last byte pass
    if (bytes.startsWith("\xFF\xFE"))
        return wholeUnits
               && decodeStrictly(QStringDecoder(QStringDecoder::Utf16LE, stateless),
                                 QByteArrayView(bytes).sliced(2), text);
    if (bytes.startsWith("\xFE\xFF"))
        return wholeUnits
               && decodeStrictly(QStringDecoder(QStringDecoder::Utf16BE, stateless),
                                 QByteArrayView(bytes).sliced(2), text);
    if (bytes.contains('\0'))
        return false;
    return decodeStrictly(QStringDecoder(QStringDecoder::Utf8, stateless), bytes, text)
           || decodeStrictly(QStringDecoder("GB18030", stateless), bytes, text);
}

QChar CsvReader::detectSeparator(QStringView text)
{
    static constexpr std::array<char16_t, 3> candidates{u',', u';', u'\t'};
    constexpr int recordsToLook = 10;
    qsizetype pos = 0;
    bool inQuotes = false;
    for (int record = 0; record < recordsToLook && pos < text.size(); ++record) {
        std::array<int, 3> counts{};
        for (; pos < text.size(); ++pos) {
            const QChar c = text[pos];
            if (c == u'"') {
                inQuotes = !inQuotes; // a doubled quote toggles twice
            } else if (!inQuotes && (c == u'\n' || c == u'\r')) {
                ++pos;
                break;
            } else if (!inQuotes) {
                for (size_t i = 0; i < candidates.size(); ++i)
                    counts[i] += c == candidates[i];
            }
        }
        size_t best = 0;
        for (size_t i = 1; i < candidates.size(); ++i) {
            if (counts[i] > counts[best])
                best = i;
        }
        if (counts[best] > 0)
            return QChar(candidates[best]);
    }
    return QChar(u',');
}

QVector<QStringList> CsvReader::parse(QStringView text, QChar separator, int columns)
{
    QVector<QStringList> rows;
    CsvScanner scanner(text, separator);
    while (!scanner.atEnd()) {
        QStringList row(columns);
        bool endOfRecord = false;
        for (int column = 0; !endOfRecord; ++column)
            scanner.readField(column < columns ? &row[column] : nullptr, &endOfRecord);
        rows.append(std::move(row));
    }
    return rows;
}

SheetRows CsvReader::readFirstSheet(const QString &path, int columns)
{
    SheetRows result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("无法打开文件：%1").arg(file.errorString());
        return result;
    }
    if (file.size() > maxFileBytes) {
        result.error = QStringLiteral("文件过大（超过 %1 MB），无法作为 CSV 文件读取").arg(maxFileBytes >> 20);
        return result;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.error = QStringLiteral("读取文件失败：%1").arg(file.errorString());
        return result;
    }
    QString text;
    if (!decode(bytes, &text)) {
        result.error = QStringLiteral("无法识别文件编码（文件不是 UTF-8、UTF-16 或 GBK 编码的文本）");
        return result;
    }
    result.rows = parse(text, detectSeparator(text), std::max(columns, 1));
    result.ok = true;
    return result;
}
