#include "biff8workbook.h"

#include "biffrecords.h"
#include "gsflibrary.h"
#include "textrules.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QtEndian>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>

#include <cmath>
#include <cstring>
#include <optional>

namespace {

constexpr quint32 maxRows = 65536;

// UTF-16LE characters from a byte buffer of any alignment.
QString wideText(const char *data, qsizetype count)
{
    QString text(count, Qt::Uninitialized);
    qFromLittleEndian<quint16>(data, count, text.data());
    return text;
}

struct Record
{
    quint16 id = 0;
    QByteArray body;
};

// Walks the records of a workbook stream from a given offset.
class RecordWalker
{
public:
    RecordWalker(const QByteArray &stream, qsizetype offset) : m_stream(stream), m_pos(offset) {}

    bool next(Record *record)
    {
        if (m_pos < 0 || m_pos + 4 > m_stream.size())
            return false;
        const char *data = m_stream.constData() + m_pos;
        const quint16 length = qFromLittleEndian<quint16>(data + 2);
        if (m_pos + 4 + length > m_stream.size())
            return false;
        record->id = qFromLittleEndian<quint16>(data);
        record->body = QByteArray::fromRawData(data + 4, length);
        m_pos += 4 + length;
        return true;
    }

    std::optional<quint16> peekId() const
    {
        if (m_pos < 0 || m_pos + 4 > m_stream.size())
            return std::nullopt;
        return qFromLittleEndian<quint16>(m_stream.constData() + m_pos);
    }

private:
    const QByteArray &m_stream;
    qsizetype m_pos;
};

// Reads the SST and its CONTINUE records as one run of bytes, except that
// character data restarts with a fresh option byte in every CONTINUE.
class BlockReader
{
public:
    explicit BlockReader(const QVector<QByteArray> &blocks) : m_blocks(blocks) {}

    bool atEnd()
    {
        while (m_block < m_blocks.size() && m_pos >= m_blocks.at(m_block).size()) {
            ++m_block;
            m_pos = 0;
        }
        return m_block >= m_blocks.size();
    }

    bool skip(qint64 count)
    {
        while (count > 0) {
            if (atEnd())
                return false;
            const qsizetype take =
                qsizetype(std::min<qint64>(count, m_blocks.at(m_block).size() - m_pos));
            m_pos += take;
            count -= take;
        }
        return true;
    }

    template<typename T>
    bool little(T *value)
    {
        uchar bytes[sizeof(T)];
        for (uchar &byte : bytes) {
            if (atEnd())
                return false;
            byte = uchar(m_blocks.at(m_block).at(m_pos++));
        }
        *value = qFromLittleEndian<T>(bytes);
        return true;
    }

    // count characters of one or two bytes each, written straight into out.
    bool characters(quint16 count, bool wide, QString *out)
    {
        *out = QString(count, Qt::Uninitialized); // resize() would allocate room to grow
        char16_t *target = reinterpret_cast<char16_t *>(out->data());
        qsizetype done = 0;
        while (done < count) {
            if (m_block >= m_blocks.size())
                return false;
            if (m_pos >= m_blocks.at(m_block).size()) {
                ++m_block;
                m_pos = 0;
                quint8 flags = 0;
                if (!little(&flags))
                    return false;
                wide = flags & 0x01;
                continue;
            }
            const QByteArray &block = m_blocks.at(m_block);
            const int unit = wide ? 2 : 1;
            const qsizetype available = (block.size() - m_pos) / unit;
            if (available == 0) // half a character before the boundary
                return false;
            const qsizetype take = std::min<qsizetype>(count - done, available);
            const char *data = block.constData() + m_pos;
            if (wide) {
                qFromLittleEndian<quint16>(data, take, target + done);
            } else {
                for (qsizetype i = 0; i < take; ++i)
                    target[done + i] = uchar(data[i]);
            }
            done += take;
            m_pos += take * unit;
        }
        return true;
    }

private:
    const QVector<QByteArray> &m_blocks;
    qsizetype m_block = 0;
    qsizetype m_pos = 0;
};

// The "Workbook" stream of the compound file; notCompound when the container
// itself cannot be read, older when it holds a BIFF5 "Book" stream instead.
QByteArray workbookStream(const QString &path, bool *notCompound, bool *older)
{
    *notCompound = true;
    *older = false;
    const GsfLibrary::Quiet quiet;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray content = file.readAll();

    QByteArray stream;
    GsfInput *input = gsf_input_memory_new(reinterpret_cast<const guint8 *>(content.constData()),
                                           content.size(), FALSE);
    GsfInfile *ole = input ? gsf_infile_msole_new(input, nullptr) : nullptr;
    if (ole) {
        *notCompound = false;
        if (GsfInput *child = gsf_infile_child_by_name(ole, "Workbook")) {
            const gsf_off_t size = gsf_input_size(child);
            // A stream cannot be larger than the file that holds it.
            if (size > 0 && size <= content.size()) {
                stream.resize(qsizetype(size));
                if (!gsf_input_read(child, size_t(size), reinterpret_cast<guint8 *>(stream.data())))
                    stream.clear();
            }
            g_object_unref(child);
        } else if (GsfInput *book = gsf_infile_child_by_name(ole, "Book")) {
            *older = true;
            g_object_unref(book);
        }
        g_object_unref(ole);
    }
    if (input)
        g_object_unref(input);
    return stream;
}

double rkValue(quint32 rk)
{
    double value;
    if (rk & 0x02) {
        value = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 0x01) ? value / 100 : value;
}

QString unicodeString(const QByteArray &body, qsizetype at)
{
    if (at + 3 > body.size())
        return QString();
    const quint16 count = qFromLittleEndian<quint16>(body.constData() + at);
    const bool wide = body.at(at + 2) & 0x01;
    const qsizetype start = at + 3;
    const qsizetype available = (body.size() - start) / (wide ? 2 : 1);
    const qsizetype take = std::min<qsizetype>(count, available);
    if (wide)
        return wideText(body.constData() + start, take);
    return QString::fromLatin1(body.constData() + start, take);
}

// What a number format shows: the built-in date and time formats (with the
// Chinese ones), or a format string that speaks of days or hours.
template<typename Kind>
Kind formatKind(quint16 format, const QString *pattern)
{
    if ((format >= 14 && format <= 17) || (format >= 27 && format <= 31)
        || (format >= 34 && format <= 36) || (format >= 50 && format <= 58))
        return Kind::Date;
    if ((format >= 18 && format <= 21) || format == 32 || format == 33
        || (format >= 45 && format <= 47))
        return Kind::Time;
    if (format == 22)
        return Kind::DateTime;
    if (!pattern || pattern->compare(u"General", Qt::CaseInsensitive) == 0)
        return Kind::Plain;

    bool date = false;
    bool time = false;
    bool quoted = false;
    bool bracket = false;
    for (qsizetype i = 0; i < pattern->size(); ++i) {
        const QChar c = pattern->at(i).toLower();
        if (quoted) {
            quoted = c != u'"';
        } else if (bracket) {
            bracket = c != u']';
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u'[') {
            bracket = true;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            ++i; // the next character is shown literally
        } else if (c == u'y' || c == u'd' || (c == u'm' && !time)) {
            date = true; // an "m" before any hour or second letter is the month
        } else if (c == u'h' || c == u's') {
            time = true;
        }
    }
    if (date && time)
        return Kind::DateTime;
    if (date)
        return Kind::Date;
    if (time)
        return Kind::Time;
    return Kind::Plain;
}

} // namespace

QString Biff8Workbook::numberText(double value, quint16 xf) const
{
    const NumberKind kind = xf < m_xfKinds.size() ? m_xfKinds.at(xf) : NumberKind::Plain;
    // Serial day numbers Excel can show as dates: 0 to 9999-12-31.
    if (kind == NumberKind::Plain || !(value >= 0 && value < 2958466))
        return TextRules::plainDecimal(value);

    const QDate epoch = m_dates1904 ? QDate(1904, 1, 1) : QDate(1899, 12, 30);
    qint64 seconds = qint64(std::llround(value * 86400.0));
    const QDate date = epoch.addDays(seconds / 86400);
    seconds %= 86400;
    const QTime time = QTime(0, 0).addSecs(int(seconds));
    switch (kind) {
    case NumberKind::Date:
        return date.toString(QStringLiteral("yyyy-MM-dd"));
    case NumberKind::Time:
        return time.toString(QStringLiteral("HH:mm:ss"));
    default:
        return date.toString(QStringLiteral("yyyy-MM-dd")) + u' '
            + time.toString(QStringLiteral("HH:mm:ss"));
    }
}

QStringList Biff8Workbook::parseStrings(const QVector<QByteArray> &blocks)
{
    QStringList strings;
    BlockReader reader(blocks);
    quint32 total = 0;
    quint32 unique = 0;
    if (!reader.little(&total) || !reader.little(&unique))
        return strings;
    // Every string takes at least its three header bytes: a damaged count
    // cannot reserve more than the records could hold.
    qsizetype bytes = 0;
    for (const QByteArray &block : blocks)
        bytes += block.size();
    strings.reserve(std::min<qsizetype>(unique, bytes / 3));
    while (!reader.atEnd()) {
        quint16 count = 0;
        quint8 flags = 0;
        if (!reader.little(&count) || !reader.little(&flags))
            break;
        quint16 runs = 0;
        quint32 extension = 0;
        if ((flags & 0x08) && !reader.little(&runs))
            break;
        if ((flags & 0x04) && !reader.little(&extension))
            break;
        QString text;
        if (!reader.characters(count, flags & 0x01, &text))
            break;
        strings.append(std::move(text));
        if (!reader.skip(qint64(runs) * 4 + extension))
            break;
    }
    return strings;
}

Biff8Workbook::Status Biff8Workbook::load(const QString &path)
{
    bool notCompound = true;
    bool older = false;
    const QByteArray stream = workbookStream(path, &notCompound, &older);
    if (notCompound)
        return Status::NotCompoundFile;
    if (older)
        return Status::OlderBiff;
    return loadStream(stream);
}

Biff8Workbook::Status Biff8Workbook::loadStream(const QByteArray &stream)
{
    m_stream = stream;
    m_sheetOffset = -1;
    m_strings.clear();
    m_xfKinds.clear();
    m_dates1904 = false;
    QHash<quint16, QString> formats;

    RecordWalker globals(m_stream, 0);
    Record record;
    if (m_stream.isEmpty())
        return Status::Damaged;
    if (!globals.next(&record) || record.id != BiffRecord::Bof || record.body.size() < 4)
        return Status::Damaged;
    if (qFromLittleEndian<quint16>(record.body.constData()) != 0x0600)
        return Status::OlderBiff;
    while (globals.next(&record) && record.id != BiffRecord::Eof) {
        if (record.id == BiffRecord::FilePass)
            return Status::Encrypted;
        if (record.id == BiffRecord::Format && record.body.size() >= 2) {
            formats.insert(qFromLittleEndian<quint16>(record.body.constData()),
                           unicodeString(record.body, 2));
        } else if (record.id == BiffRecord::Xf && record.body.size() >= 4) {
            const quint16 format = qFromLittleEndian<quint16>(record.body.constData() + 2);
            const auto pattern = formats.constFind(format);
            m_xfKinds.append(formatKind<NumberKind>(
                format, pattern == formats.cend() ? nullptr : &pattern.value()));
        } else if (record.id == BiffRecord::DateMode && record.body.size() >= 2) {
            m_dates1904 = qFromLittleEndian<quint16>(record.body.constData()) == 1;
        } else if (record.id == BiffRecord::BoundSheet && record.body.size() >= 6 && m_sheetOffset < 0
            && record.body.at(5) == 0) { // the first worksheet
            m_sheetOffset = qFromLittleEndian<quint32>(record.body.constData());
        } else if (record.id == BiffRecord::Sst) {
            QVector<QByteArray> blocks{record.body};
            while (globals.peekId() == BiffRecord::Continue && globals.next(&record))
                blocks.append(record.body);
            m_strings = parseStrings(blocks);
        }
    }
    if (m_sheetOffset < 0 || m_sheetOffset >= m_stream.size())
        return Status::Damaged;
    return Status::Ok;
}

SheetRows Biff8Workbook::readFirstSheet(int columns) const
{
    SheetRows result;
    if (m_sheetOffset < 0) {
        result.error = QStringLiteral("文件已损坏或不是 Excel 工作簿");
        return result;
    }
    quint32 rowCount = 0;
    const QString none;
    const QStringList emptyRow(columns, none);
    auto put = [&](quint32 row, quint32 column, const QString &text) {
        if (row >= maxRows)
            return;
        rowCount = std::max(rowCount, row + 1);
        if (column >= quint32(columns))
            return;
        if (result.rows.size() <= qsizetype(row)) {
            if (result.rows.capacity() <= qsizetype(row))
                result.rows.reserve(std::max<qsizetype>(row + 1, result.rows.capacity() * 2));
            result.rows.resize(row + 1, emptyRow);
        }
        result.rows[row][column] = text;
    };

    RecordWalker sheet(m_stream, qsizetype(m_sheetOffset));
    Record record;
    int depth = 0;
    while (sheet.next(&record)) {
        const QByteArray &body = record.body;
        const char *data = body.constData();
        auto u16At = [data](int at) { return qFromLittleEndian<quint16>(data + at); };
        switch (record.id) {
        case BiffRecord::Bof:
            ++depth;
            continue;
        case BiffRecord::Eof:
            --depth;
            break;
        default:
            break;
        }
        if (depth <= 0)
            break;
        if (depth != 1) // an embedded chart
            continue;
        switch (record.id) {
        case BiffRecord::Dimensions:
            if (body.size() >= 8) {
                rowCount = std::max(rowCount, std::min(maxRows, qFromLittleEndian<quint32>(data + 4)));
                result.rows.reserve(rowCount); // every one of them is handed out anyway
            }
            break;
        case BiffRecord::LabelSst:
            if (body.size() >= 10) {
                const quint32 index = qFromLittleEndian<quint32>(data + 6);
                // Both sides are lvalues: the cell shares the table's text, no temporary copy.
                put(u16At(0), u16At(2), index < quint32(m_strings.size()) ? m_strings.at(index) : none);
            }
            break;
        case BiffRecord::Label:
            if (body.size() >= 6)
                put(u16At(0), u16At(2), unicodeString(body, 6));
            break;
        case BiffRecord::Number:
            if (body.size() >= 14) {
                double value;
                std::memcpy(&value, data + 6, sizeof value);
                put(u16At(0), u16At(2), numberText(value, u16At(4)));
            }
            break;
        case BiffRecord::Rk:
            if (body.size() >= 10)
                put(u16At(0), u16At(2), numberText(rkValue(qFromLittleEndian<quint32>(data + 6)), u16At(4)));
            break;
        case BiffRecord::MulRk:
            if (body.size() >= 6) {
                const quint16 row = u16At(0);
                const quint16 first = u16At(2);
                const int count = int((body.size() - 6) / 6);
                for (int i = 0; i < count; ++i) {
                    const qsizetype at = 4 + 6 * qsizetype(i);
                    const quint16 xf = qFromLittleEndian<quint16>(data + at);
                    const quint32 rk = qFromLittleEndian<quint32>(data + at + 2);
                    put(row, first + i, numberText(rkValue(rk), xf));
                }
            }
            break;
        default: // blanks, formulas, errors, booleans: empty cells
            break;
        }
    }
    result.rows.resize(rowCount, emptyRow);
    result.ok = true;
    return result;
}
