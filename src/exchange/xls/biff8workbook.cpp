#include "exchange/xls/biff8workbook.h"

#include "core/workprogress.h"

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
#include <functional>
#include <memory>

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
    QByteArrayView body; // valid until the next read from the same stream
};

} // namespace

// The bytes of a workbook stream, asked for in stretches no longer than one
// record.
class Biff8Workbook::ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Bytes start .. end - 1 of the stream, in one piece at data.
    struct Span
    {
        const char *data = nullptr;
        qint64 start = 0;
        qint64 end = 0;
    };

    virtual qint64 size() const = 0;
    // A span that holds count bytes from offset, valid until the next call;
    // data is null when the stream ends before them or they cannot be read.
    virtual Span bytes(qint64 offset, qsizetype count) = 0;
    // True once a part of the stream could not be read.
    virtual bool failed() const { return false; }
    // Reads what has not been read of the stream yet; false when a part of
    // it, here or earlier, could not be read.
    virtual bool readRest() { return true; }
};

namespace {

// A stream held whole in memory.
class MemorySource final : public Biff8Workbook::ByteSource
{
public:
    explicit MemorySource(const QByteArray &stream) : m_stream(stream) {}

    qint64 size() const override { return m_stream.size(); }
    Span bytes(qint64 offset, qsizetype count) override
    {
        if (offset < 0 || count < 0 || offset + count > m_stream.size())
            return {};
        return {m_stream.constData(), 0, m_stream.size()};
    }

private:
    const QByteArray m_stream;
};

// The "Workbook" stream of a compound file, read through a window of a few
// records at a time instead of being copied into memory whole. Every byte is
// read once, in order (a jump ahead reads the gap), so that a part libgsf
// cannot read is found wherever it lies, as when the stream was read whole.
class CompoundFileSource final : public Biff8Workbook::ByteSource
{
public:
    // Room for the longest record a damaged length can claim, and more.
    static constexpr qsizetype windowBytes = qsizetype(1) << 18;

    enum class Opened { Ok, NotCompoundFile, OlderBiff, Damaged };

    Opened open(const QString &path)
    {
        // libgsf reads the file itself.
        m_file.reset(gsf_input_stdio_new(QFile::encodeName(path).constData(), nullptr));
        const gsf_off_t fileSize = m_file ? gsf_input_size(m_file.get()) : 0;
        m_ole.reset(m_file ? gsf_infile_msole_new(m_file.get(), nullptr) : nullptr);
        if (!m_ole)
            return Opened::NotCompoundFile;
        m_stream.reset(gsf_infile_child_by_name(m_ole.get(), "Workbook"));
        if (!m_stream) {
            const GsfLibrary::Owned<GsfInput> book(gsf_infile_child_by_name(m_ole.get(), "Book"));
            return book ? Opened::OlderBiff : Opened::Damaged;
        }
        const gsf_off_t size = gsf_input_size(m_stream.get());
        // A stream cannot be larger than the file that holds it.
        if (size <= 0 || size > fileSize)
            return Opened::Damaged;
        m_size = size;
        m_window.resize(std::min<qint64>(windowBytes, m_size));
        return Opened::Ok;
    }

    qint64 size() const override { return m_size; }

    Span bytes(qint64 offset, qsizetype count) override
    {
        if (offset < 0 || count < 0 || count > m_window.size() || offset + count > m_size)
            return {};
        if (offset >= m_start && offset + count <= m_start + m_filled)
            return window();
        if (m_failed)
            return {};
        // What the window already holds from offset on stays.
        qsizetype kept = 0;
        if (offset >= m_start && offset < m_start + m_filled) {
            kept = qsizetype(m_start + m_filled - offset);
            std::memmove(m_window.data(), m_window.constData() + (offset - m_start), size_t(kept));
        }
        m_start = offset;
        m_filled = kept;
        const qint64 from = offset + kept;
        const qint64 want = std::min<qint64>(m_window.size() - kept, m_size - from);
        if (!readThrough(from) || !readInto(m_window.data() + kept, from, want)) {
            m_filled = 0;
            return {};
        }
        m_filled += qsizetype(want);
        return window();
    }

    bool failed() const override { return m_failed; }

    bool readRest() override
    {
        m_filled = 0; // the window serves as scratch space
        return readThrough(m_size);
    }

private:
    Span window() const { return {m_window.constData(), m_start, m_start + m_filled}; }

    bool readInto(char *to, qint64 from, qint64 count)
    {
        if (m_failed)
            return false;
        if (count > 0) {
            m_failed = (gsf_input_tell(m_stream.get()) != from
                        && gsf_input_seek(m_stream.get(), from, G_SEEK_SET))
                       || !gsf_input_read(m_stream.get(), size_t(count), reinterpret_cast<guint8 *>(to));
        }
        m_readTo = std::max(m_readTo, m_failed ? m_readTo : from + count);
        return !m_failed;
    }

    // Reads (and drops) what lies unread before until; only while the window
    // holds nothing that is still needed.
    bool readThrough(qint64 until)
    {
        while (m_readTo < until) {
            if (!readInto(m_window.data(), m_readTo, std::min<qint64>(m_window.size(), until - m_readTo)))
                return false;
        }
        return !m_failed;
    }

    // Declared first: libgsf's warnings about a damaged file stay quiet as
    // long as the file is read.
    const GsfLibrary::Quiet m_quiet;
    GsfLibrary::Owned<GsfInput> m_file;
    GsfLibrary::Owned<GsfInfile> m_ole;
    GsfLibrary::Owned<GsfInput> m_stream;
    qint64 m_size = 0;
    QByteArray m_window;
    qint64 m_start = 0;     // stream offset of the window's first byte
    qsizetype m_filled = 0; // bytes of the window in use
    qint64 m_readTo = 0;    // everything before has been read once
    bool m_failed = false;
};

// Walks the records of a workbook stream from a given offset.
class RecordWalker
{
public:
    RecordWalker(Biff8Workbook::ByteSource &source, qint64 offset) : m_source(source), m_pos(offset) {}

    bool next(Record *record)
    {
        const char *header = here(4);
        if (!header)
            return false;
        const quint16 length = qFromLittleEndian<quint16>(header + 2);
        const char *data = here(4 + qsizetype(length));
        if (!data)
            return false;
        record->id = qFromLittleEndian<quint16>(data);
        record->body = QByteArrayView(data + 4, length);
        m_pos += 4 + length;
        return true;
    }

    // The body of the CONTINUE record that comes next, if one does.
    bool nextContinue(QByteArrayView *body)
    {
        const char *header = here(4);
        Record record;
        if (!header || qFromLittleEndian<quint16>(header) != BiffRecord::Continue || !next(&record))
            return false;
        *body = record.body;
        return true;
    }

    qint64 bytesLeft() const { return std::max<qint64>(0, m_source.size() - m_pos); }

private:
    // count bytes from the current position; nullptr when the stream does
    // not hold them. The source is asked only when the span at hand ends.
    const char *here(qsizetype count)
    {
        if (m_pos < m_span.start || m_pos + count > m_span.end) {
            m_span = m_source.bytes(m_pos, count);
            if (!m_span.data)
                return nullptr;
        }
        return m_span.data + (m_pos - m_span.start);
    }

    Biff8Workbook::ByteSource &m_source;
    Biff8Workbook::ByteSource::Span m_span; // what the source last handed out
    qint64 m_pos;
};

// The body of the next block of a record that goes on in CONTINUE records;
// false after the last.
using NextBlock = std::function<bool(QByteArrayView *)>;

// Reads a record and its CONTINUE records as one run of bytes, except that
// character data restarts with a fresh option byte in every CONTINUE. The
// blocks are asked for one at a time, each once the one before is used up.
class BlockReader
{
public:
    BlockReader(QByteArrayView first, NextBlock more) : m_block(first), m_more(std::move(more)) {}

    bool atEnd()
    {
        while (m_pos >= m_block.size()) {
            if (!advance())
                return true;
        }
        return false;
    }

    bool skip(qint64 count)
    {
        while (count > 0) {
            if (atEnd())
                return false;
            const qsizetype take = qsizetype(std::min<qint64>(count, m_block.size() - m_pos));
            m_pos += take;
            count -= take;
        }
        return true;
    }

    template<typename T>
    bool little(T *value)
    {
        if (m_block.size() - m_pos >= qsizetype(sizeof(T))) { // the value lies within this block
            *value = qFromLittleEndian<T>(m_block.data() + m_pos);
            m_pos += sizeof(T);
            return true;
        }
        uchar bytes[sizeof(T)];
        for (uchar &byte : bytes) {
            if (atEnd())
                return false;
            byte = uchar(m_block.at(m_pos++));
        }
        *value = qFromLittleEndian<T>(bytes);
        return true;
    }

    // count characters of one or two bytes each, written straight into out.
    bool characters(quint16 count, bool wide, QString *out)
    {
        *out = QString(count, Qt::Uninitialized); // resize() would allocate room to grow
        return characters(count, wide, reinterpret_cast<char16_t *>(out->data()));
    }

    // The same into target, which has room for count characters.
    bool characters(quint16 count, bool wide, char16_t *target)
    {
        qsizetype done = 0;
        while (done < count) {
            if (m_ended)
                return false;
            if (m_pos >= m_block.size()) {
                quint8 flags = 0;
                if (!advance() || !little(&flags))
                    return false;
                wide = flags & 0x01;
                continue;
            }
            const int unit = wide ? 2 : 1;
            const qsizetype available = (m_block.size() - m_pos) / unit;
            if (available == 0) // half a character before the boundary
                return false;
            const qsizetype take = std::min<qsizetype>(count - done, available);
            const char *data = m_block.data() + m_pos;
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
    bool advance()
    {
        m_ended = m_ended || !m_more || !m_more(&m_block);
        m_pos = 0;
        if (m_ended)
            m_block = QByteArrayView();
        return !m_ended;
    }

    QByteArrayView m_block;
    NextBlock m_more;
    qsizetype m_pos = 0;
    bool m_ended = false;
};

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
bool stringRecordText(QByteArrayView body, const NextBlock &more, QString *text)
{
    BlockReader reader(body, more);
    quint16 count = 0;
    quint8 flags = 0;
    return reader.little(&count) && reader.little(&flags)
           && reader.characters(count, flags & 0x01, text);
}

// The shared strings of an SST record body and the CONTINUE bodies that more
// hands out, every one of them read. Every string takes at least its three
// header bytes, so a damaged count reserves no more than byteBound / 3.
bool readStrings(QByteArrayView body, const NextBlock &more, qint64 byteBound,
                 StringTable *strings)
{
    strings->clear();
    BlockReader reader(body, more);
    quint32 total = 0;
    quint32 unique = 0;
    if (!reader.little(&total) || !reader.little(&unique))
        return false;
    strings->reserve(qsizetype(std::min<qint64>(unique, byteBound / 3)));
    while (!reader.atEnd()) {
        quint16 count = 0;
        quint8 flags = 0;
        quint16 runs = 0;
        quint32 extension = 0;
        if (!reader.little(&count) || !reader.little(&flags) || ((flags & 0x08) && !reader.little(&runs))
            || ((flags & 0x04) && !reader.little(&extension))
            || !reader.characters(count, flags & 0x01, strings->add(count)))
            return false; // a length that runs past the table
        if (!reader.skip(qint64(runs) * 4 + extension))
            return false;
    }
    return true;
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

QString unicodeString(QByteArrayView body, qsizetype at)
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
    qint64 bytes = 0;
    for (const QByteArray &block : blocks)
        bytes += block.size();
    qsizetype next = 1;
    const NextBlock more = [&blocks, &next](QByteArrayView *block) {
        if (next >= blocks.size())
            return false;
        *block = blocks.at(next++);
        return true;
    };
    StringTable table;
    strings->clear();
    if (!readStrings(blocks.isEmpty() ? QByteArrayView() : QByteArrayView(blocks.first()), more,
                     bytes, &table))
        return false;
    for (qsizetype i = 0; i < table.size(); ++i)
        strings->append(table.at(i).toString());
    return true;
}

Biff8Workbook::Status Biff8Workbook::load(const QString &path)
{
    auto file = std::make_shared<CompoundFileSource>();
    switch (file->open(path)) {
    case CompoundFileSource::Opened::Ok:
        return loadFrom(std::move(file));
    case CompoundFileSource::Opened::NotCompoundFile:
        return Status::NotCompoundFile;
    case CompoundFileSource::Opened::OlderBiff:
        return Status::OlderBiff;
    case CompoundFileSource::Opened::Damaged:
        break;
    }
    return Status::Damaged;
}

Biff8Workbook::Status Biff8Workbook::loadStream(const QByteArray &stream)
{
    return loadFrom(std::make_shared<MemorySource>(stream));
}

Biff8Workbook::Status Biff8Workbook::loadFrom(std::shared_ptr<ByteSource> source)
{
    m_source = std::move(source);
    m_sheetOffset = -1;
    m_strings.clear();
    m_formats = CellFormats();

    RecordWalker globals(*m_source, 0);
    const NextBlock continues = [&globals](QByteArrayView *body) { return globals.nextContinue(body); };
    Record record;
    if (m_source->size() == 0)
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
            if (!readStrings(record.body, continues, globals.bytesLeft() + record.body.size(), &m_strings))
                return Status::Damaged;
        }
    }
    if (m_source->failed() || m_sheetOffset < 0 || m_sheetOffset >= m_source->size())
        return Status::Damaged;
    return Status::Ok;
}

bool Biff8Workbook::readFirstSheet(int columns, SheetRowSink &sink, QString *error) const
{
    if (m_sheetOffset < 0 || !m_source) {
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

    RecordWalker sheet(*m_source, m_sheetOffset);
    const NextBlock continues = [&sheet](QByteArrayView *body) { return sheet.nextContinue(body); };
    Record record;
    int depth = 0;
    constexpr int recordsBetweenReports = 4096;
    int untilReport = recordsBetweenReports;
    while (sheet.next(&record)) {
        if (--untilReport == 0) {
            untilReport = recordsBetweenReports;
            const qint64 size = m_source->size();
            if (!sink.proceed(size - sheet.bytesLeft(), size)) {
                *error = WorkProgress::cancelledMessage();
                return false;
            }
        }
        const QByteArrayView body = record.body;
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
                // The cell points into the table's text: no copy, no count.
                const QStringView shared = m_strings.at(index);
                put(u16At(0), u16At(2), QString::fromRawData(shared.data(), shared.size()));
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
                if (!stringRecordText(body, continues, &text)) {
                    *error = damagedMessage();
                    return false;
                }
                QByteArrayView unused;
                while (continues(&unused)) { // the rest belongs to the text as well
                }
                row.set(pendingString.column, std::move(text));
            }
            pendingString.row = 0;
            break;
        default: // blanks and everything else
            break;
        }
    }
    // A part of the stream that cannot be read is damage, wherever it lies.
    if (!m_source->readRest()) {
        *error = damagedMessage();
        return false;
    }
    row.flush(sink);
    return true;
}
