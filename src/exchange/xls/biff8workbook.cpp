#include "exchange/xls/biff8workbook.h"

#include "core/textrules.h"
#include "exchange/celltext.h"
#include "exchange/xls/biffrecords.h"
#include "exchange/xls/gsflibrary.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QtEndian>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
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

    // body and the bodies of the CONTINUE records that follow it, which are
    // read along.
    QVector<QByteArray> withContinues(const QByteArray &body)
    {
        QVector<QByteArray> blocks{body};
        Record record;
        while (peekId() == BiffRecord::Continue && next(&record))
            blocks.append(record.body);
        return blocks;
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

    // libgsf reads the file itself: only the workbook stream is held in memory.
    const GsfLibrary::Owned<GsfInput> input(
        gsf_input_stdio_new(QFile::encodeName(path).constData(), nullptr));
    const gsf_off_t fileSize = input ? gsf_input_size(input.get()) : 0;
    QByteArray stream;
    const GsfLibrary::Owned<GsfInfile> ole(input ? gsf_infile_msole_new(input.get(), nullptr) : nullptr);
    if (!ole)
        return stream;
    *notCompound = false;
    if (const GsfLibrary::Owned<GsfInput> child{gsf_infile_child_by_name(ole.get(), "Workbook")}) {
        const gsf_off_t size = gsf_input_size(child.get());
        // A stream cannot be larger than the file that holds it.
        if (size > 0 && size <= fileSize) {
            stream.resize(qsizetype(size));
            if (!gsf_input_read(child.get(), size_t(size), reinterpret_cast<guint8 *>(stream.data())))
                stream.clear();
        }
    } else {
        *older = GsfLibrary::Owned<GsfInput>(gsf_infile_child_by_name(ole.get(), "Book")) != nullptr;
    }
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

// The text of a STRING record (a formula's cached text), with its CONTINUE
// records; false when the length runs past them.
bool stringRecordText(const QVector<QByteArray> &blocks, QString *text)
{
    BlockReader reader(blocks);
    quint16 count = 0;
    quint8 flags = 0;
    return reader.little(&count) && reader.little(&flags)
           && reader.characters(count, flags & 0x01, text);
}

// Records that may stand between a FORMULA record and the STRING record with
// its cached text.
bool mayFollowFormula(quint16 id)
{
    return id == BiffRecord::String || id == BiffRecord::ShrFmla || id == BiffRecord::Array
           || id == BiffRecord::Table;
}

QString damagedMessage()
{
    return QStringLiteral("文件已损坏或不是 Excel 工作簿");
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

} // namespace

bool Biff8Workbook::parseStrings(const QVector<QByteArray> &blocks, QStringList *strings)
{
    strings->clear();
    BlockReader reader(blocks);
    quint32 total = 0;
    quint32 unique = 0;
    if (!reader.little(&total) || !reader.little(&unique))
        return false;
    // Every string takes at least its three header bytes: a damaged count
    // cannot reserve more than the records could hold.
    qsizetype bytes = 0;
    for (const QByteArray &block : blocks)
        bytes += block.size();
    strings->reserve(std::min<qsizetype>(unique, bytes / 3));
    while (!reader.atEnd()) {
        quint16 count = 0;
        quint8 flags = 0;
        quint16 runs = 0;
        quint32 extension = 0;
        QString text;
        if (!reader.little(&count) || !reader.little(&flags) || ((flags & 0x08) && !reader.little(&runs))
            || ((flags & 0x04) && !reader.little(&extension))
            || !reader.characters(count, flags & 0x01, &text))
            return false; // a length that runs past the table
        strings->append(std::move(text));
        if (!reader.skip(qint64(runs) * 4 + extension))
            return false;
    }
    return true;
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
    m_formats = CellFormats();

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
            m_formats.addFormat(qFromLittleEndian<quint16>(record.body.constData()),
                                unicodeString(record.body, 2));
        } else if (record.id == BiffRecord::Xf && record.body.size() >= 4) {
            m_formats.addStyle(qFromLittleEndian<quint16>(record.body.constData() + 2));
        } else if (record.id == BiffRecord::DateMode && record.body.size() >= 2) {
            m_formats.setDate1904(qFromLittleEndian<quint16>(record.body.constData()) == 1);
        } else if (record.id == BiffRecord::BoundSheet && record.body.size() >= 6 && m_sheetOffset < 0
            && record.body.at(5) == 0) { // the first worksheet
            m_sheetOffset = qFromLittleEndian<quint32>(record.body.constData());
        } else if (record.id == BiffRecord::Sst) {
            if (!parseStrings(globals.withContinues(record.body), &m_strings))
                return Status::Damaged;
        }
    }
    if (m_sheetOffset < 0 || m_sheetOffset >= m_stream.size())
        return Status::Damaged;
    return Status::Ok;
}

bool Biff8Workbook::readFirstSheet(int columns, SheetRowSink &sink, QString *error) const
{
    if (m_sheetOffset < 0) {
        *error = damagedMessage();
        return false;
    }
    RowBuffer row(columns);
    // Cell records come row by row; a row is complete when the next begins.
    auto cell = [&](quint32 sheetRow) -> bool {
        if (sheetRow >= maxRows)
            return false;
        if (row.rowNumber() != qsizetype(sheetRow) + 1) {
            row.flush(sink);
            row.open(qsizetype(sheetRow) + 1);
        }
        return true;
    };
    auto put = [&](quint32 sheetRow, quint32 column, QString text) {
        if (cell(sheetRow))
            row.set(column, std::move(text));
    };
    // The cell whose formula result is a text in the STRING record that follows.
    // Row 0: none.
    struct
    {
        qsizetype row = 0; // 1-based
        quint32 column = 0;
    } pendingString;

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
        if (!mayFollowFormula(record.id))
            pendingString.row = 0;
        switch (record.id) {
        case BiffRecord::LabelSst:
            if (body.size() >= 10) {
                const quint32 index = qFromLittleEndian<quint32>(data + 6);
                if (index >= quint32(m_strings.size())) {
                    *error = damagedMessage();
                    return false;
                }
                // The cell shares the table's text, no copy.
                put(u16At(0), u16At(2), m_strings.at(index));
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
                put(u16At(0), u16At(2), m_formats.numberText(value, u16At(4)));
            }
            break;
        case BiffRecord::Rk:
            if (body.size() >= 10)
                put(u16At(0), u16At(2),
                    m_formats.numberText(rkValue(qFromLittleEndian<quint32>(data + 6)), u16At(4)));
            break;
        case BiffRecord::MulRk:
            if (body.size() >= 6) {
                const quint16 sheetRow = u16At(0);
                const quint16 first = u16At(2);
                const int count = int((body.size() - 6) / 6);
                for (int i = 0; i < count; ++i) {
                    const qsizetype at = 4 + 6 * qsizetype(i);
                    const quint16 xf = qFromLittleEndian<quint16>(data + at);
                    const quint32 rk = qFromLittleEndian<quint32>(data + at + 2);
                    put(sheetRow, first + i, m_formats.numberText(rkValue(rk), xf));
                }
            }
            break;
        case BiffRecord::BoolErr:
            if (body.size() >= 8) // an error value (#N/A ...) reads as an empty cell
                put(u16At(0), u16At(2), body.at(7) ? QString() : CellText::boolean(body.at(6) != 0));
            break;
        case BiffRecord::Formula:
            if (body.size() >= 14) {
                // The cached result: a number, or a marked kind in its first byte.
                const quint16 sheetRow = u16At(0);
                const quint16 column = u16At(2);
                if (u16At(12) != 0xFFFF) {
                    double value;
                    std::memcpy(&value, data + 6, sizeof value);
                    put(sheetRow, column, m_formats.numberText(value, u16At(4)));
                } else if (body.at(6) == 0) { // a text, in the STRING record that follows
                    if (cell(sheetRow))
                        pendingString = {qsizetype(sheetRow) + 1, column};
                } else if (body.at(6) == 1) {
                    put(sheetRow, column, CellText::boolean(body.at(8) != 0));
                } else { // an error or the empty text
                    cell(sheetRow);
                }
            }
            break;
        case BiffRecord::String:
            if (pendingString.row != 0 && pendingString.row == row.rowNumber()) {
                QString text;
                if (!stringRecordText(sheet.withContinues(body), &text)) {
                    *error = damagedMessage();
                    return false;
                }
                row.set(pendingString.column, std::move(text));
            }
            pendingString.row = 0;
            break;
        default: // blanks and everything else
            break;
        }
    }
    row.flush(sink);
    return true;
}
