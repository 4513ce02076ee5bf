#include "exchange/xlsx/xlsxreader.h"

#include "core/workprogress.h"
#include "exchange/celltext.h"
#include "exchange/ole2.h"
#include "exchange/stringtable.h"
#include "exchange/xlsx/xlsxpackage.h"
#include "exchange/xlsx/xmlhandler.h"
#include "exchange/xlsx/xmlscanner.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr qint64 maxSmallPartBytes = qint64(16) << 20;
constexpr qint64 maxSharedStringBytes = qint64(256) << 20;
constexpr qint64 maxSheetBytes = qint64(1) << 30;
constexpr int maxSheetRows = 1048576; // the format's own limit
// From this size on a part is read beside the work on another (the strings
// beside the sheet, the sheet's inflating beside its parsing); a smaller one
// is done sooner than a thread is started and scheduled.
constexpr quint64 minBesideBytes = quint64(4) << 20;

QString encryptedMessage()
{
    return QStringLiteral("工作簿设置了打开密码（已加密），无法读取；请先在电子表格程序中取消密码再导入");
}

QString notWorkbookMessage()
{
    return QStringLiteral("文件不是 Excel 工作簿（.xlsx），其中找不到工作表");
}

bool isNamed(const QXmlStreamReader &xml, const char *name)
{
    return xml.name() == QLatin1StringView(name);
}

// Excel writes characters that XML cannot hold as _xHHHH_.
QString decodeEscapes(QString text)
{
    qsizetype at = text.indexOf(QLatin1StringView("_x"));
    while (at >= 0 && at + 7 <= text.size()) {
        bool ok = false;
        const uint code = QStringView(text).mid(at + 2, 4).toUInt(&ok, 16);
        if (ok && text[at + 6] == u'_') {
            text.replace(at, 7, QChar(char16_t(code)));
            at = text.indexOf(QLatin1StringView("_x"), at + 1);
        } else {
            at = text.indexOf(QLatin1StringView("_x"), at + 2);
        }
    }
    return text;
}

// Converts UTF-8 (checked by the XML parser) into target, inside target's own buffer
// when it is unshared and large enough: a cell filled row after row then
// allocates once, not once per row.
void assignUtf8(QString &target, const std::string &utf8)
{
    const qsizetype size = qsizetype(utf8.size());
    if (size == 0) {
        target = QString::fromUtf8(QByteArrayView("", 0));
        return;
    }
    // UTF-16 never takes more units than UTF-8 takes bytes.
    if (!target.isDetached() || target.capacity() < size)
        target = QString(size, Qt::Uninitialized);
    else
        target.resize(size);
    // Like QString::fromUtf8, which the cells were read with before: a byte
    // order mark at the start of a text is dropped.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QChar *end = decoder.appendToBuffer(target.data(), QByteArrayView(utf8.data(), size));
    target.resize(end - target.constData());
}

// A run of 1 to 9 ASCII digits and nothing else, the way sheets write row
// numbers, style indexes and string indexes; -1 for any other text, which
// then takes the general conversion (blanks, signs, long numbers).
int plainDecimal(const char *text)
{
    int value = 0;
    int digits = 0;
    for (; *text; ++text, ++digits) {
        const unsigned digit = unsigned(uchar(*text)) - '0';
        if (digit > 9 || digits == 9)
            return -1;
        value = value * 10 + int(digit);
    }
    return digits > 0 ? value : -1;
}

// A whole number as sheets write it ("13900000000"): 1 to 15 digits, no
// leading zero. Shown plain, its text is these very digits, so it needs no
// round trip through a double.
bool isPlainWholeNumber(const std::string &text)
{
    if (text.empty() || text.size() > 15 || (text[0] == '0' && text.size() > 1))
        return false;
    for (const char c : text) {
        if (unsigned(uchar(c)) - '0' > 9)
            return false;
    }
    return true;
}

// Collects the text of a string item (<si> or <is>): plain <t>, or the runs
// <r><t> of rich text; phonetic guides (<rPh>) are not part of the text.
class StringItem
{
public:
    void start(const char *name)
    {
        if (XmlHandler::isName(name, "rPh"))
            ++m_phonetic;
        else if (XmlHandler::isName(name, "t") && m_phonetic == 0)
            m_inText = true;
    }
    void end(const char *name)
    {
        if (XmlHandler::isName(name, "rPh"))
            --m_phonetic;
        else if (XmlHandler::isName(name, "t"))
            m_inText = false;
    }
    void characters(const char *data, int length)
    {
        if (m_inText)
            m_utf8.append(data, size_t(length));
    }
    // The text so far as the next string of table, converted in its place;
    // starts the next item.
    void appendTo(StringTable &table)
    {
        const qsizetype size = qsizetype(m_utf8.size());
        // UTF-16 never takes more units than UTF-8 takes bytes.
        char16_t *text = table.add(size);
        // Like QString::fromUtf8: a byte order mark at the start is dropped.
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        qsizetype length = decoder.appendToBuffer(reinterpret_cast<QChar *>(text),
                                                  QByteArrayView(m_utf8.data(), size))
                           - reinterpret_cast<QChar *>(text);
        // Looked for in the UTF-8 bytes: the XML parser has checked them, and "_x" is
        // ASCII, so it is there exactly when it is in the converted text.
        if (m_utf8.find("_x") != std::string::npos) {
            const QString decoded = decodeEscapes(QString(reinterpret_cast<QChar *>(text), length));
            length = decoded.size(); // never longer: an escape takes seven units for one
            std::copy_n(decoded.utf16(), length, text);
        }
        table.truncateLast(length);
        reset();
    }
    // The text so far into a reused string; starts the next item.
    void textInto(QString &text)
    {
        assignUtf8(text, m_utf8);
        if (m_utf8.find("_x") != std::string::npos)
            text = decodeEscapes(std::move(text));
        reset();
    }
    // Drops the text so far; starts the next item.
    void reset()
    {
        m_utf8.clear();
        m_phonetic = 0;
        m_inText = false;
    }

private:
    std::string m_utf8;
    int m_phonetic = 0;
    bool m_inText = false;
};

// "C7" -> column 3 (1-based) and row 7; either may be 0 when absent.
void parseCellReference(const char *ref, int *column, int *row)
{
    qint64 col = 0;
    for (;; ++ref) {
        const unsigned letter = (unsigned(uchar(*ref)) | 0x20u) - 'a'; // either case
        if (letter > 25)
            break;
        col = col * 26 + letter + 1;
        if (col > 16384)
            col = 16385; // beyond the last column; keep it from growing
    }
    qint64 r = 0;
    for (;; ++ref) {
        const unsigned digit = unsigned(uchar(*ref)) - '0';
        if (digit > 9)
            break;
        r = r * 10 + digit;
        if (r > maxSheetRows)
            r = maxSheetRows + 1;
    }
    *column = int(col);
    *row = int(r);
}

// The t attribute of a cell.
enum class CellType { Number, SharedString, InlineString, Boolean, Error, FormulaString, IsoDate };

CellType cellType(const char *t)
{
    if (XmlHandler::isName(t, "s"))
        return CellType::SharedString;
    if (XmlHandler::isName(t, "inlineStr"))
        return CellType::InlineString;
    if (XmlHandler::isName(t, "str"))
        return CellType::FormulaString;
    if (XmlHandler::isName(t, "b"))
        return CellType::Boolean;
    if (XmlHandler::isName(t, "e"))
        return CellType::Error;
    if (XmlHandler::isName(t, "d"))
        return CellType::IsoDate;
    return CellType::Number;
}

// The shared-string part is read on a thread of its own while the sheet is
// read: a customer list holds about as much XML in its strings as in its
// sheet. The strings go over in batches that never change once handed over,
// so the sheet's cells read them without a lock; a cell whose string is not
// read yet waits for it. Spreadsheet programs store the strings in the order
// the sheet first uses them, so the sheet seldom waits.
class SharedStringFeed
{
public:
    SharedStringFeed() { startBatch(); }

    // The strings' thread: the batch to add to, handed over once full.
    StringTable &filling() { return *m_filling; }
    void handOverIfFull()
    {
        if (m_filling->size() == batchStrings) {
            handOver();
            startBatch();
        }
    }
    // The part was read to its end (ok) or failed with error.
    void finish(bool ok, const QString &error)
    {
        handOver();
        const std::lock_guard lock(m_mutex);
        m_finished = true;
        m_ok = ok;
        m_error = error;
        m_changed.notify_all();
    }

    // The sheet's thread: the string at index, once it is read; false when
    // the part holds no such string.
    bool find(qsizetype index, QStringView *text)
    {
        if (index >= m_seenCount) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this, index] { return index < m_count || m_finished; });
            for (size_t i = m_seen.size(); i < m_batches.size(); ++i)
                m_seen.push_back(m_batches[i].get());
            m_seenCount = m_count;
            if (index >= m_seenCount)
                return false;
        }
        *text = m_seen[size_t(index / batchStrings)]->at(index % batchStrings);
        return true;
    }
    // Asks the strings' thread to stop reading; it then finishes as failed.
    void stop() { m_stopped = true; }
    bool stopped() const { return m_stopped; }
    // Waits until the part is read; false with its error when it failed.
    bool wait(QString *error)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_finished; });
        if (!m_ok)
            *error = m_error;
        return m_ok;
    }

private:
    static constexpr qsizetype batchStrings = 16384;

    void startBatch()
    {
        m_filling = std::make_unique<StringTable>();
        m_filling->reserve(batchStrings);
    }
    void handOver()
    {
        m_filling->squeeze();
        const std::lock_guard lock(m_mutex);
        m_count += m_filling->size();
        m_batches.push_back(std::move(m_filling));
        m_changed.notify_all();
    }

    std::unique_ptr<StringTable> m_filling; // the strings' thread only
    std::vector<const StringTable *> m_seen; // the sheet's thread only
    qsizetype m_seenCount = 0;               // strings in m_seen

    std::mutex m_mutex; // guards what follows
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<StringTable>> m_batches;
    qsizetype m_count = 0; // strings in m_batches
    bool m_finished = false;
    bool m_ok = false;
    std::atomic<bool> m_stopped = false;
    QString m_error;
};

struct WorkbookParts
{
    QString sheet;
    QString sharedStrings;
    QString styles;
    bool date1904 = false;
};

class XlsxSheetLoader
{
public:
    explicit XlsxSheetLoader(XlsxPackage &package) : m_package(package) {}

    bool findParts(WorkbookParts *parts, QString *error);
    bool readSharedStrings(const QString &partName, SharedStringFeed &strings, QString *error);
    bool readStyles(const QString &partName, QString *error);
    bool readSheet(const QString &partName, SharedStringFeed &strings, int columns, SheetRowSink &sink,
                   QString *error);

    const CellFormats &formats() const { return m_formats; }
    void setDate1904(bool date1904) { m_formats.setDate1904(date1904); }
    // The parts parsed from now on report to sink how far they got, out of
    // total bytes for all of them, and stop when it says so.
    void reportTo(SheetRowSink *sink, qint64 total)
    {
        m_progressSink = sink;
        m_progressTotal = total;
    }
    // The parts parsed from now on stop, as cancelled, once stop says so.
    void stopWhen(std::function<bool()> stop) { m_stopRequested = std::move(stop); }

private:
    // Runs handler over a part; a failure names the part.
    bool parsePart(const QString &partName, qint64 maxBytes, XlsxPackage::Reading reading,
                   XmlHandler &handler, QString *error);

    XlsxPackage &m_package;
    CellFormats m_formats;
    SheetRowSink *m_progressSink = nullptr;
    std::function<bool()> m_stopRequested;
    qint64 m_progressTotal = 0;
    qint64 m_progressDone = 0; // by the parts parsed before
};

// The shared-string part: every <si> in order.
class SharedStringsHandler : public XmlHandler
{
public:
    explicit SharedStringsHandler(SharedStringFeed &strings) : m_strings(strings) {}

    void startElement(const char *qualifiedName, const char **) override
    {
        const char *name = localName(qualifiedName);
        if (isName(name, "si"))
            m_inItem = true;
        else if (m_inItem)
            m_item.start(name);
    }
    void endElement(const char *qualifiedName) override
    {
        const char *name = localName(qualifiedName);
        if (isName(name, "si")) {
            m_item.appendTo(m_strings.filling());
            m_strings.handOverIfFull();
            m_inItem = false;
        } else if (m_inItem) {
            m_item.end(name);
        }
    }
    void characters(const char *data, int length) override
    {
        if (m_inItem)
            m_item.characters(data, length);
    }

private:
    SharedStringFeed &m_strings;
    StringItem m_item;
    bool m_inItem = false;
};

// The worksheet part: each <row> goes to the sink when it ends.
class SheetHandler : public XmlHandler
{
public:
    SheetHandler(const XlsxSheetLoader &loader, SharedStringFeed &strings, int columns, SheetRowSink &sink)
        : m_loader(loader), m_strings(strings), m_sink(sink), m_buffer(columns)
    {
    }

    void startElement(const char *qualifiedName, const char **attributes) override
    {
        if (m_failed)
            return;
        const char *name = localName(qualifiedName);
        if (!m_inSheetData) {
            m_inSheetData = XmlHandler::isName(name, "sheetData");
            return;
        }
        if (m_inCell) {
            if (XmlHandler::isName(name, "v"))
                m_inValue = true;
            else if (XmlHandler::isName(name, "is"))
                m_inInline = true;
            else if (m_inInline)
                m_inlineText.start(name);
            return;
        }
        if (XmlHandler::isName(name, "row")) {
            m_buffer.flush(m_sink);
            const char *r = XmlHandler::attribute(attributes, "r");
            int number = r ? plainDecimal(r) : -1;
            bool ok = number >= 0;
            if (r && !ok)
                number = QByteArrayView(r).toInt(&ok);
            m_row = ok ? number : m_row + 1;
            m_column = 0;
            if (m_row < 1 || m_row > maxSheetRows)
                fail(QStringLiteral("工作表的行号超出范围（最多 %1 行）").arg(maxSheetRows));
        } else if (XmlHandler::isName(name, "c")) {
            // One pass over the attributes: a sheet has millions of cells.
            int refColumn = 0;
            int refRow = 0;
            m_type = CellType::Number;
            m_style = 0;
            for (const char **attribute = attributes; attribute[0]; attribute += 2) {
                const char *attributeName = XmlHandler::localName(attribute[0]);
                if (attributeName[0] == 0 || attributeName[1] != 0)
                    continue;
                switch (attributeName[0]) {
                case 'r':
                    parseCellReference(attribute[1], &refColumn, &refRow);
                    break;
                case 't':
                    m_type = cellType(attribute[1]);
                    break;
                case 's':
                    m_style = plainDecimal(attribute[1]);
                    if (m_style < 0)
                        m_style = QByteArrayView(attribute[1]).toInt();
                    break;
                default:
                    break;
                }
            }
            m_column = refColumn > 0 ? refColumn : m_column + 1;
            if (m_row == 0) // a cell outside any row element
                m_row = refRow > 0 ? refRow : 1;
            m_inCell = true;
            // The text of a cell beyond the requested columns is not collected.
            m_wanted = m_column <= m_buffer.columns();
            m_value.clear();
            m_inlineText.reset();
        }
    }

    void endElement(const char *qualifiedName) override
    {
        if (m_failed || !m_inSheetData)
            return;
        const char *name = localName(qualifiedName);
        if (m_inCell) {
            if (XmlHandler::isName(name, "c")) {
                endCell();
            } else if (XmlHandler::isName(name, "v")) {
                m_inValue = false;
            } else if (XmlHandler::isName(name, "is")) {
                m_inInline = false;
            } else if (m_inInline) {
                m_inlineText.end(name);
            }
            return;
        }
        if (XmlHandler::isName(name, "row")) {
            m_buffer.flush(m_sink);
        } else if (XmlHandler::isName(name, "sheetData")) {
            m_buffer.flush(m_sink);
            m_inSheetData = false;
        }
    }

    void characters(const char *data, int length) override
    {
        if (!m_wanted)
            return;
        if (m_inValue)
            m_value.append(data, size_t(length));
        else if (m_inInline)
            m_inlineText.characters(data, length);
    }

    void finish() { m_buffer.flush(m_sink); }

private:
    void fail(const QString &reason)
    {
        m_failed = true;
        stop(reason);
    }

    void endCell()
    {
        m_inCell = m_inValue = m_inInline = false;
        if (m_buffer.rowNumber() != m_row) {
            m_buffer.flush(m_sink);
            m_buffer.open(m_row);
        }
        if (m_wanted)
            writeCell();
    }

    // The cell of the open row, written into in place.
    QString &cell() { return m_buffer.cell(m_column - 1); }

    // The text of the cell that ended into its place in the row; a cell
    // without text (an error value, no value) empties the place, as a later
    // cell of the same reference replaces an earlier one.
    void writeCell()
    {
        const QByteArrayView value(m_value.data(), qsizetype(m_value.size()));
        switch (m_type) {
        case CellType::SharedString: {
            qsizetype index = plainDecimal(m_value.c_str());
            bool ok = index >= 0;
            if (!ok)
                index = value.trimmed().toLongLong(&ok);
            QStringView text;
            if (!ok || index < 0 || !m_strings.find(index, &text)) {
                fail(QStringLiteral("工作簿内容已损坏（单元格引用了不存在的字符串）"));
                return;
            }
            // A view into the table, which outlives the sheet: no copy, no count.
            cell() = QString::fromRawData(text.data(), text.size());
            return;
        }
        case CellType::InlineString:
            m_inlineText.textInto(cell());
            return;
        case CellType::Boolean:
            cell() = CellText::boolean(value.trimmed() == "1");
            return;
        case CellType::Error: // #N/A and the like: no text
            cell() = QString();
            return;
        case CellType::FormulaString: {
            QString &text = cell();
            assignUtf8(text, m_value);
            if (value.indexOf("_x") >= 0)
                text = decodeEscapes(std::move(text));
            return;
        }
        case CellType::IsoDate: {
            // ISO 8601 text; a date without a time of day reads as the date.
            QString text = QString::fromUtf8(value).trimmed();
            if (text.endsWith(QLatin1StringView("T00:00:00")) || text.endsWith(QLatin1StringView("T00:00:00Z")))
                text.truncate(text.indexOf(u'T'));
            text.replace(u'T', u' ');
            cell() = std::move(text);
            return;
        }
        case CellType::Number:
            break;
        }
        if (value.isEmpty()) {
            cell() = QString();
            return;
        }
        if (isPlainWholeNumber(m_value)
            && m_loader.formats().kindOfStyle(m_style) == CellText::NumberKind::Plain) {
            assignUtf8(cell(), m_value);
            return;
        }
        bool ok = false;
        const double number = QByteArray::fromRawData(value.data(), value.size()).toDouble(&ok);
        if (ok)
            cell() = m_loader.formats().numberText(number, m_style);
        else
            assignUtf8(cell(), m_value);
    }

    const XlsxSheetLoader &m_loader;
    SharedStringFeed &m_strings;
    SheetRowSink &m_sink;
    RowBuffer m_buffer;
    StringItem m_inlineText;
    std::string m_value;
    CellType m_type = CellType::Number;
    int m_style = 0;
    int m_row = 0;
    int m_column = 0;
    bool m_inSheetData = false;
    bool m_inCell = false;
    bool m_inValue = false;
    bool m_inInline = false;
    bool m_wanted = true;
    bool m_failed = false;
};

bool XlsxSheetLoader::findParts(WorkbookParts *parts, QString *error)
{
    XlsxPackage::Relationships rels;
    if (!m_package.readRelationships(QString(), &rels, error))
        return false;
    QString workbook;
    for (const XlsxPackage::Relationship &rel : std::as_const(rels)) {
        if (rel.type.endsWith(QLatin1StringView("/officeDocument")))
            workbook = rel.target;
    }
    if (workbook.isEmpty())
        workbook = QStringLiteral("xl/workbook.xml");
    if (!m_package.contains(workbook)) {
        *error = notWorkbookMessage();
        return false;
    }

    std::unique_ptr<QIODevice> device = m_package.openPart(workbook, maxSmallPartBytes, error);
    if (!device)
        return false;
    QXmlStreamReader xml(device.get());
    QStringList sheetIds;
    bool rootSeen = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (!rootSeen) {
            rootSeen = true;
            if (!isNamed(xml, "workbook")) {
                *error = notWorkbookMessage();
                return false;
            }
        } else if (isNamed(xml, "workbookPr")) {
            const QStringView value = xml.attributes().value(QLatin1StringView("date1904"));
            parts->date1904 = value == QLatin1StringView("1") || value == QLatin1StringView("true");
        } else if (isNamed(xml, "sheet")) {
            // r:id, whatever prefix the relationships namespace got.
            for (const QXmlStreamAttribute &attribute : xml.attributes()) {
                if (attribute.name() == QLatin1StringView("id") && !attribute.namespaceUri().isEmpty())
                    sheetIds.append(attribute.value().toString());
            }
        }
    }
    if (xml.hasError()) {
        *error = XlsxPackage::partReadError(device.get(), workbook);
        return false;
    }
    device.reset();

    if (!m_package.readRelationships(workbook, &rels, error))
        return false;
    for (const XlsxPackage::Relationship &rel : std::as_const(rels)) {
        if (rel.type.endsWith(QLatin1StringView("/sharedStrings")))
            parts->sharedStrings = rel.target;
        else if (rel.type.endsWith(QLatin1StringView("/styles")))
            parts->styles = rel.target;
    }
    // The first worksheet in workbook order; chart sheets do not count.
    for (const QString &id : std::as_const(sheetIds)) {
        const auto rel = rels.constFind(id);
        if (rel != rels.constEnd() && rel->type.endsWith(QLatin1StringView("/worksheet"))) {
            parts->sheet = rel->target;
            break;
        }
    }
    if (parts->sheet.isEmpty()) {
        *error = QStringLiteral("工作簿中没有工作表");
        return false;
    }
    return true;
}

bool XlsxSheetLoader::parsePart(const QString &partName, qint64 maxBytes,
                                XlsxPackage::Reading reading, XmlHandler &handler, QString *error)
{
    // Asked before the part is opened: the package has one entry open at a time.
    const qint64 partBytes = m_progressSink ? qint64(m_package.declaredSize(partName)) : 0;
    std::unique_ptr<QIODevice> device = m_package.openPart(partName, maxBytes, reading, error);
    if (!device)
        return false;
    XmlScanner scanner(handler);
    if (m_progressSink || m_stopRequested) {
        scanner.setBlockWatch([this](qint64 bytesRead) {
            if (m_stopRequested && m_stopRequested())
                return false;
            return !m_progressSink
                   || m_progressSink->proceed(m_progressDone + bytesRead, m_progressTotal);
        });
    }
    QString stopReason;
    const bool ok = scanner.parse(device.get(), &stopReason);
    m_progressDone += partBytes;
    if (!ok) {
        *error = stopReason.isEmpty() ? XlsxPackage::partReadError(device.get(), partName)
                                      : stopReason;
    }
    return ok;
}

bool XlsxSheetLoader::readSharedStrings(const QString &partName, SharedStringFeed &strings,
                                        QString *error)
{
    SharedStringsHandler handler(strings);
    return parsePart(partName, maxSharedStringBytes, XlsxPackage::Reading::OnDemand, handler, error);
}

bool XlsxSheetLoader::readStyles(const QString &partName, QString *error)
{
    std::unique_ptr<QIODevice> device = m_package.openPart(partName, maxSmallPartBytes, error);
    if (!device)
        return false;
    QXmlStreamReader xml(device.get());
    bool inCellXfs = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1StringView("cellXfs"))
            inCellXfs = false;
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        if (name == QLatin1StringView("numFmt")) {
            const QXmlStreamAttributes a = xml.attributes();
            m_formats.addFormat(a.value(QLatin1StringView("numFmtId")).toInt(),
                                a.value(QLatin1StringView("formatCode")));
        } else if (name == QLatin1StringView("cellXfs")) {
            inCellXfs = true;
        } else if (name == QLatin1StringView("xf") && inCellXfs) {
            m_formats.addStyle(xml.attributes().value(QLatin1StringView("numFmtId")).toInt());
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError()) {
        *error = XlsxPackage::partReadError(device.get(), partName);
        return false;
    }
    return true;
}

bool XlsxSheetLoader::readSheet(const QString &partName, SharedStringFeed &strings, int columns,
                                SheetRowSink &sink, QString *error)
{
    SheetHandler handler(*this, strings, columns, sink);
    const XlsxPackage::Reading reading = m_package.declaredSize(partName) < minBesideBytes
                                             ? XlsxPackage::Reading::OnDemand
                                             : XlsxPackage::Reading::Ahead;
    if (!parsePart(partName, maxSheetBytes, reading, handler, error))
        return false;
    handler.finish();
    return true;
}

} // namespace

bool XlsxReader::isEncryptedPackage(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !Ole2::hasSignature(file.read(8)))
        return false;
    // Directory entries are 128 bytes long and start with the stream's name
    // in UTF-16; the entries of a compound file always lie on such a boundary.
    static const QByteArray name = [] {
        const QString text = QStringLiteral("EncryptedPackage");
        QByteArray bytes;
        for (QChar c : text)
            bytes.append(char(c.unicode())).append('\0');
        return bytes.append(2, '\0');
    }();
    const qint64 size = file.size();
    const uchar *data = file.map(0, size);
    if (!data)
        return false;
    const QByteArrayView all(data, size);
    bool found = false;
    for (qsizetype at = all.indexOf(name); at >= 0 && !found; at = all.indexOf(name, at + 1))
        found = at % 128 == 0;
    file.unmap(const_cast<uchar *>(data));
    return found;
}

bool XlsxReader::read(const QString &path, int columns, SheetRowSink &sink, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("无法打开文件：%1").arg(file.errorString());
        return false;
    }
    const QByteArray head = file.read(8);
    file.close();
    if (Ole2::hasSignature(head)) {
        *error = isEncryptedPackage(path) ? encryptedMessage() : notWorkbookMessage();
        return false;
    }

    XlsxPackage package;
    WorkbookParts parts;
    XlsxSheetLoader loader(package);
    if (!package.open(path, error) || !loader.findParts(&parts, error))
        return false;
    loader.setDate1904(parts.date1904);

    SharedStringFeed strings;
    std::jthread stringReader; // joined before strings goes
    const auto declared = [&package](const QString &part) {
        return part.isEmpty() ? qint64(0) : qint64(package.declaredSize(part));
    };
    if (parts.sharedStrings.isEmpty() || !package.contains(parts.sharedStrings)) {
        strings.finish(true, QString());
        loader.reportTo(&sink, declared(parts.sheet));
    } else if (package.declaredSize(parts.sharedStrings) < minBesideBytes) {
        loader.reportTo(&sink, declared(parts.sharedStrings) + declared(parts.sheet));
        if (!loader.readSharedStrings(parts.sharedStrings, strings, error))
            return false;
        strings.finish(true, QString());
    } else {
        // Progress counts the sheet alone: the strings are read beside it.
        loader.reportTo(&sink, declared(parts.sheet));
        // With a package of its own: one package reads one part at a time.
        stringReader = std::jthread([&path, &parts, &strings] {
            XlsxPackage ownPackage;
            XlsxSheetLoader ownLoader(ownPackage);
            ownLoader.stopWhen([&strings] { return strings.stopped(); });
            QString stringsError;
            const bool ok = ownPackage.open(path, &stringsError)
                            && ownLoader.readSharedStrings(parts.sharedStrings, strings, &stringsError);
            strings.finish(ok, stringsError);
        });
    }
    QString sheetError;
    const bool sheetOk = (parts.styles.isEmpty() || !package.contains(parts.styles)
                          || loader.readStyles(parts.styles, &sheetError))
                         && loader.readSheet(parts.sheet, strings, std::max(columns, 1), sink, &sheetError);
    // A cancelled read stops the strings too, without waiting for them.
    if (!sheetOk && sheetError == WorkProgress::cancelledMessage())
        strings.stop();
    // A fault in the strings is the reason given, as when they were read
    // before everything else.
    if (!strings.wait(error))
        return false;
    if (!sheetOk)
        *error = sheetError;
    return sheetOk;
}
