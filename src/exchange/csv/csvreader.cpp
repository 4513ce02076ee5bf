#include "exchange/csv/csvreader.h"

#include "core/workprogress.h"
#include "exchange/csv/gbkdecoder.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace {

// Small enough for the block and its decoded text to stay in the processor's
// cache between decoding and splitting into fields.
constexpr qint64 blockBytes = qint64(64) << 10;

QString unknownEncoding()
{
    return QStringLiteral("无法识别文件编码（文件不是 UTF-8、UTF-16 或 GBK 编码的文本）");
}

bool decodeStrictly(QStringDecoder &decoder, QByteArrayView bytes, QString *text)
{
    if (!decoder.isValid())
        return false;
    *text = decoder.decode(bytes);
    return !decoder.hasError() && !text->contains(QChar(u'\0'));
}

// The last two short texts (salutations, yes/no marks ...) of every column:
// a field that repeats one shares its storage instead of being allocated
// anew, so a million rows of "男" and "女" hold two strings, not a million.
class RecentShortTexts
{
public:
    static constexpr qsizetype maxChars = 4;

    explicit RecentShortTexts(size_t columns) : m_recent(columns) {}

    // field is at most maxChars long.
    QString text(size_t column, QStringView field)
    {
        std::array<QString, 2> &recent = m_recent[column];
        if (same(recent[1], field))
            std::swap(recent[0], recent[1]);
        else if (!same(recent[0], field))
            recent = {field.toString(), std::move(recent[0])};
        return recent[0];
    }

private:
    // Inline, unlike QString's comparison: a few units at most.
    static bool same(const QString &text, QStringView field)
    {
        return text.size() == field.size() && std::equal(field.begin(), field.end(), text.cbegin());
    }

    std::vector<std::array<QString, 2>> m_recent; // the latest first
};

// The cells of the record being read. A text is written into the column's
// buffer of the row before when the sink left that one alone (it keeps copies
// of the characters, if any): no fresh string per cell and row. A column whose
// texts the sink moves away or shares gets a fresh string of the exact size
// instead, and its short texts share the storage of the last ones. Between
// records every cell is null, so an empty field is handed over without a
// buffer behind it.
class RowCells
{
public:
    explicit RowCells(int columns)
        : m_cells(size_t(std::max(columns, 1))), m_buffers(m_cells.size()), m_shortTexts(m_cells.size())
    {
        for (QString &buffer : m_buffers) // the first row tells what the sink does with them
            buffer.reserve(maxSlack);
    }

    size_t columns() const { return m_cells.size(); }

    void set(size_t column, QStringView text)
    {
        if (text.isEmpty())
            return;
        QString &cell = m_cells[column];
        QString &buffer = m_buffers[column];
        // A sink that takes the texts after all (a row it passed over) gets
        // little room to spare.
        if (buffer.isDetached() && buffer.capacity() >= text.size() && buffer.capacity() <= text.size() + maxSlack) {
            buffer.resize(text.size()); // within its capacity: no allocation
            std::copy(text.begin(), text.end(), buffer.begin());
            cell.swap(buffer);
        } else if (text.size() <= RecentShortTexts::maxChars) {
            cell = m_shortTexts.text(column, text);
        } else {
            cell = text.toString();
        }
    }

    void handOver(qsizetype rowNumber, SheetRowSink &sink)
    {
        sink.takeRow(rowNumber, m_cells);
        clear();
    }

    void clear()
    {
        for (size_t column = 0; column < m_cells.size(); ++column) {
            QString &cell = m_cells[column];
            if (cell.isNull())
                continue;
            if (cell.isDetached()) // a buffer the sink left alone
                m_buffers[column].swap(cell);
            cell = QString();
        }
    }

private:
    static constexpr qsizetype maxSlack = 32;

    std::vector<QString> m_cells;
    std::vector<QString> m_buffers;
    RecentShortTexts m_shortTexts;
};

// Where in [from, size) the first of the units a, b and c is; size when none
// is. Four units at a time: a lane of x is zero exactly where
// (x - 1) & ~x has its high bit set, counting up from the lowest lane (a
// borrow only runs on above a lane that is zero).
qsizetype indexOfAny(const char16_t *data, qsizetype from, qsizetype size, char16_t a, char16_t b, char16_t c)
{
    qsizetype pos = from;
    if constexpr (std::endian::native == std::endian::little) {
        constexpr quint64 lanes = 0x0001000100010001;
        constexpr quint64 highBits = lanes << 15;
        const auto zeroLanes = [](quint64 x) { return (x - lanes) & ~x & highBits; };
        for (; size - pos >= 4; pos += 4) {
            quint64 word;
            std::memcpy(&word, data + pos, sizeof word);
            const quint64 found =
                zeroLanes(word ^ (lanes * a)) | zeroLanes(word ^ (lanes * b)) | zeroLanes(word ^ (lanes * c));
            if (found)
                return pos + std::countr_zero(found) / 16;
        }
    }
    while (pos < size && data[pos] != a && data[pos] != b && data[pos] != c)
        ++pos;
    return pos;
}

// Walks the records of a text, field by field.
class CsvScanner
{
public:
    // final: the text is the rest of the file; otherwise a quoted field still
    // open at its end continues in text not yet read.
    CsvScanner(QStringView text, QChar separator, bool final, RowCells &cells)
        : m_text(text), m_separator(separator), m_final(final), m_cells(cells)
    {
    }

    bool atEnd() const { return m_pos >= m_text.size(); }
    qsizetype position() const { return m_pos; }

    // Steps over the line ends that stand alone from here on (a file may hold
    // millions); how many lines they end.
    qsizetype skipEmptyLines()
    {
        const QChar *data = m_text.data();
        const qsizetype size = m_text.size();
        qsizetype pos = m_pos;
        qsizetype lines = 0;
        for (; pos < size; ++lines) {
            if (data[pos] == u'\n')
                ++pos;
            else if (data[pos] == u'\r')
                pos += pos + 1 < size && data[pos + 1] == u'\n' ? 2 : 1;
            else
                break;
        }
        m_pos = pos;
        return lines;
    }

    // Reads one record into the cells (fields beyond them are dropped). False
    // when the record does not end within the text and more text follows.
    bool readRecord()
    {
        bool endOfRecord = false;
        for (size_t column = 0; !endOfRecord; ++column) {
            if (!readField(column < m_cells.columns() ? column : noColumn, &endOfRecord))
                return false;
        }
        return true;
    }

private:
    static constexpr size_t noColumn = size_t(-1);

    // *endOfRecord tells whether a line end (or the end of the text) followed
    // the field. column is noColumn when the text is not wanted.
    bool readField(size_t column, bool *endOfRecord)
    {
        const bool quoted = m_pos < m_text.size() && m_text[m_pos] == u'"';
        if (quoted) {
            m_quoted.resize(0);
            if (!readQuoted(column == noColumn ? nullptr : &m_quoted))
                return false;
        }
        const qsizetype start = m_pos;
        const qsizetype size = m_text.size();
        m_pos = indexOfAny(reinterpret_cast<const char16_t *>(m_text.data()), start, size,
                           m_separator.unicode(), u'\n', u'\r');
        if (column != noColumn) {
            const QStringView rest = m_text.sliced(start, m_pos - start);
            if (!quoted) {
                m_cells.set(column, rest);
            } else {
                m_quoted.append(rest);
                m_cells.set(column, m_quoted);
            }
        }
        *endOfRecord = true;
        if (m_pos >= size)
            return true;
        const QChar stop = m_text[m_pos++];
        if (stop == m_separator) {
            *endOfRecord = false;
        } else if (stop == u'\r' && m_pos < size && m_text[m_pos] == u'\n') {
            ++m_pos;
        }
        return true;
    }

    // From the opening quote to just after the closing one; text after the
    // closing quote up to the separator still belongs to the field.
    bool readQuoted(QString *field)
    {
        ++m_pos;
        for (;;) {
            const qsizetype quote = m_text.indexOf(u'"', m_pos);
            if (quote < 0) { // unterminated: the rest of the text
                if (!m_final)
                    return false;
                if (field)
                    field->append(m_text.mid(m_pos));
                m_pos = m_text.size();
                return true;
            }
            // A quote at the very end may be the first of a doubled pair.
            if (quote + 1 == m_text.size() && !m_final)
                return false;
            if (field)
                field->append(m_text.mid(m_pos, quote - m_pos));
            m_pos = quote + 1;
            if (m_pos < m_text.size() && m_text[m_pos] == u'"') {
                if (field)
                    field->append(u'"');
                ++m_pos;
            } else {
                return true;
            }
        }
    }

    QStringView m_text;
    QChar m_separator;
    bool m_final;
    RowCells &m_cells;
    QString m_quoted; // the text of a quoted field, put together
    qsizetype m_pos = 0;
};

// Hands the complete records of text to sink; returns how much of text was
// used (the rest starts a record that continues in the next block).
qsizetype parseRecords(QStringView text, QChar separator, bool final, RowCells &cells,
                       qsizetype *rowNumber, SheetRowSink &sink)
{
    CsvScanner scanner(text, separator, final, cells);
    qsizetype used = 0;
    while (!scanner.atEnd()) {
        if (const qsizetype lines = scanner.skipEmptyLines()) { // a row that holds nothing costs nothing
            *rowNumber += lines;
            used = scanner.position();
            continue;
        }
        if (!scanner.readRecord()) {
            cells.clear();
            break;
        }
        used = scanner.position();
        cells.handOver(++*rowNumber, sink);
    }
    return used;
}

enum class Encoding { Utf8, Utf16LE, Utf16BE, Gb18030 };

// Where the last whole line of bytes ends: just after the last line feed, or
// after the last CR whose next character is known not to be a line feed; 0
// when there is none. Only units from index from on are looked at. CR and LF bytes are never part of a longer character in
// UTF-8 or GB18030; in UTF-16 whole units are compared.
qsizetype endOfLastLine(QByteArrayView bytes, qsizetype from, Encoding encoding)
{
    const bool wide = encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE;
    const int unit = wide ? 2 : 1;
    auto unitAt = [&](qsizetype index) -> char16_t {
        const qsizetype at = index * unit;
        if (!wide)
            return uchar(bytes[at]);
        const uchar first = uchar(bytes[at]);
        const uchar second = uchar(bytes[at + 1]);
        return encoding == Encoding::Utf16LE ? char16_t(first | second << 8) : char16_t(first << 8 | second);
    };
    const qsizetype units = bytes.size() / unit;
    for (qsizetype i = units - 1; i >= from; --i) {
        const char16_t c = unitAt(i);
        if (c == u'\n' || (c == u'\r' && i + 1 < units && unitAt(i + 1) != u'\n'))
            return (i + 1) * unit;
    }
    return 0;
}

// Stateless, so that a sequence cut short at the end of a block counts as an
// error (blocks end after whole lines).
QStringDecoder strictDecoder(Encoding encoding)
{
    constexpr auto stateless = QStringDecoder::Flag::Stateless;
    switch (encoding) {
    case Encoding::Utf16LE:
        return QStringDecoder(QStringDecoder::Utf16LE, stateless);
    case Encoding::Utf16BE:
        return QStringDecoder(QStringDecoder::Utf16BE, stateless);
    case Encoding::Gb18030:
        return QStringDecoder("GB18030", stateless);
    case Encoding::Utf8:
        break;
    }
    return QStringDecoder(QStringDecoder::Utf8, stateless);
}

// Reads a file block by block, each block ending after a whole line (except
// the last one, and a single line longer than a block).
class LineBlocks
{
public:
    LineBlocks(QFile &file, qint64 start, Encoding encoding)
        : m_file(file), m_encoding(encoding)
    {
        m_file.seek(start);
    }

    // The next block, cut after the last line end in at least atLeast bytes
    // (unless the file ends before); false at the end of the file or on a
    // read error.
    bool next(QByteArray *block, bool *last, qint64 atLeast = 0)
    {
        m_buffer.remove(0, m_used);
        m_used = 0;
        for (;;) {
            const qsizetype have = m_buffer.size();
            if (!m_eof) {
                const qint64 wanted = std::max(blockBytes, atLeast - have);
                m_buffer.resize(have + wanted);
                const qint64 got = m_file.read(m_buffer.data() + have, wanted);
                if (got < 0) {
                    m_failed = true;
                    return false;
                }
                m_buffer.resize(have + got);
                m_eof = got == 0;
            }
            if (m_eof) {
                if (m_buffer.isEmpty())
                    return false;
                m_used = m_buffer.size();
                *last = true;
                *block = m_buffer;
                return true;
            }
            // The bytes before have held no line end, except perhaps a CR
            // whose next character was not read yet.
            const int unit = m_encoding == Encoding::Utf16LE || m_encoding == Encoding::Utf16BE ? 2 : 1;
            const qsizetype end = endOfLastLine(m_buffer, std::max<qsizetype>(0, have / unit - 1), m_encoding);
            if (end > 0) {
                m_used = end;
                *last = false;
                *block = QByteArray::fromRawData(m_buffer.constData(), end);
                return true;
            }
        }
    }

    bool failed() const { return m_failed; }

private:
    QFile &m_file;
    Encoding m_encoding;
    QByteArray m_buffer;
    qsizetype m_used = 0;
    bool m_eof = false;
    bool m_failed = false;
};

// Whether the bytes after start read as UTF-8, holding no NUL.
bool isUtf8Text(QFile &file, qint64 start, bool *readFailed)
{
    LineBlocks blocks(file, start, Encoding::Utf8);
    QByteArray block;
    bool last = false;
    while (blocks.next(&block, &last)) {
        if (block.contains('\0') || !QByteArrayView(block).isValidUtf8())
            return false;
    }
    *readFailed = blocks.failed();
    return true;
}

} // namespace

bool CsvReader::decode(const QByteArray &bytes, QString *text)
{
    const bool wholeUnits = bytes.size() % 2 == 0; // a UTF-16 decoder lets a lone last byte pass
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        QStringDecoder decoder = strictDecoder(Encoding::Utf8);
        return decodeStrictly(decoder, QByteArrayView(bytes).sliced(3), text);
    }
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder decoder =
            strictDecoder(bytes.startsWith("\xFF\xFE") ? Encoding::Utf16LE : Encoding::Utf16BE);
        return wholeUnits && decodeStrictly(decoder, QByteArrayView(bytes).sliced(2), text);
    }
    if (bytes.contains('\0'))
        return false;
    QStringDecoder utf8 = strictDecoder(Encoding::Utf8);
    if (decodeStrictly(utf8, bytes, text))
        return true;
    QStringDecoder gb18030 = strictDecoder(Encoding::Gb18030);
    return decodeStrictly(gb18030, bytes, text);
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
    // Rows that hold nothing are not handed over; their numbers tell.
    class Collect : public SheetRowSink
    {
    public:
        void takeRow(qsizetype rowNumber, std::span<QString> cells) override
        {
            rows.resize(rowNumber - 1, QStringList(qsizetype(cells.size())));
            rows.append(QStringList(cells.begin(), cells.end()));
        }
        QVector<QStringList> rows;
    } collect;
    RowCells cells(columns);
    qsizetype rowNumber = 0;
    parseRecords(text, separator, true, cells, &rowNumber, collect);
    return collect.rows;
}

bool CsvReader::read(const QString &path, int columns, SheetRowSink &sink, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("无法打开文件：%1").arg(file.errorString());
        return false;
    }
    auto readError = [&] {
        *error = QStringLiteral("读取文件失败：%1").arg(file.errorString());
        return false;
    };

    const QByteArray head = file.peek(3);
    Encoding encoding = Encoding::Utf8;
    qint64 start = 0;
    if (head.startsWith("\xEF\xBB\xBF")) {
        start = 3;
    } else if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF")) {
        encoding = head.startsWith("\xFF\xFE") ? Encoding::Utf16LE : Encoding::Utf16BE;
        start = 2;
        if (file.size() % 2 != 0) { // a UTF-16 decoder lets a lone last byte pass
            *error = unknownEncoding();
            return false;
        }
    } else {
        bool readFailed = false;
        if (!isUtf8Text(file, 0, &readFailed))
            encoding = Encoding::Gb18030;
        if (readFailed)
            return readError();
    }

    QStringDecoder decoder = strictDecoder(encoding);
    RowCells cells(columns);
    LineBlocks blocks(file, start, encoding);
    QByteArray block;
    bool last = false;
    QString text; // the block decoded, in one buffer for all blocks
    QString pending; // the start of a record that goes on in the next block
    QChar separator;
    bool separatorKnown = false;
    qsizetype rowNumber = 0;
    // A record still open at the end of a block is read again with the next
    // one: the next is about as long as the record at least, so that a field
    // running on over many blocks (an unbalanced quote) costs time in
    // proportion to its length.
    while (blocks.next(&block, &last, pending.size())) {
        const bool fast = encoding == Encoding::Gb18030 && GbkDecoder::decode(block, &text);
        if (!fast && !decodeStrictly(decoder, block, &text)) {
            *error = unknownEncoding();
            return false;
        }
        if (!pending.isEmpty()) {
            pending.append(text);
            text.swap(pending);
        }
        if (!separatorKnown) {
            separator = detectSeparator(text);
            separatorKnown = true;
        }
        const qsizetype used = parseRecords(text, separator, last, cells, &rowNumber, sink);
        if (!sink.proceed(file.pos(), file.size())) {
            *error = WorkProgress::cancelledMessage();
            return false;
        }
        if (used == 0) // one record all through: kept whole, not copied
            pending.swap(text);
        else
            pending = QStringView(text).sliced(used).toString();
    }
    if (blocks.failed())
        return readError();
    if (!pending.isEmpty()) // a quoted field open at the end of the file
        parseRecords(pending, separator, true, cells, &rowNumber, sink);
    return true;
}
