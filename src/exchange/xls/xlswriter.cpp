#include "exchange/xls/xlswriter.h"

#include "core/atomicfile.h"
#include "core/cancelcheck.h"
#include "core/workprogress.h"
#include "exchange/columnwidth.h"
#include "exchange/xls/biffbuffer.h"
#include "exchange/xls/biffrecords.h"
#include "exchange/xls/gsflibrary.h"
#include "exchange/xls/sharedstrings.h"

#include <QFile>
#include <QVector>

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>

namespace {

constexpr quint16 bofWorkbookGlobals = 0x0005;
constexpr quint16 bofWorksheet = 0x0010;
constexpr quint16 codepageUtf16 = 1200;

constexpr qsizetype rowsPerSheet = 65536;
constexpr int maxCellChars = 32767;
constexpr int columns = 4;

// XF 0..15 are style XFs; the one cell XF follows and carries the text format.
constexpr quint16 styleXfCount = 16;
constexpr quint16 textCellXf = styleXfCount;
constexpr quint16 textNumberFormat = 49; // built-in "@"

// Streams below 4096 bytes would go into the OLE2 mini stream, which some
// readers handle badly; pad the workbook stream past it.
constexpr qsizetype minWorkbookStream = 4096;

void writeBof(BiffBuffer &out, quint16 type)
{
    out.beginRecord(BiffRecord::Bof);
    out.u16(0x0600); // BIFF8
    out.u16(type);
    out.u16(0x0DBB); // build
    out.u16(0x07CC); // year
    out.u32(0);      // file history
    out.u32(0x0006); // lowest BIFF version that can read it
    out.endRecord();
}

void writeEof(BiffBuffer &out)
{
    out.beginRecord(BiffRecord::Eof);
    out.endRecord();
}

void writeFont(BiffBuffer &out)
{
    const QString name = QStringLiteral("宋体");
    out.beginRecord(BiffRecord::Font);
    out.u16(220);    // 11 pt in twentieths of a point
    out.u16(0);      // attributes
    out.u16(0x7FFF); // automatic colour
    out.u16(400);    // normal weight
    out.u16(0);      // no super/subscript
    out.u8(0);       // no underline
    out.u8(0);       // family
    out.u8(0x86);    // GB2312 character set
    out.u8(0);
    out.u8(quint8(name.size()));
    out.u8(0x01); // UTF-16 characters
    out.chars(name, false);
    out.endRecord();
}

void writeXf(BiffBuffer &out, bool style)
{
    out.beginRecord(BiffRecord::Xf);
    out.u16(0);                                  // font
    out.u16(style ? 0 : textNumberFormat);       // number format
    out.u16(style ? 0xFFF5 : 0x0001);            // locked; style XF without parent
    out.u8(0x20);                                // general, bottom-aligned
    out.u8(0);                                   // no rotation
    out.u8(0);                                   // no indent
    out.u8(style ? 0xF4 : 0xF8);                 // attribute groups in use
    out.u32(0);                                  // no borders
    out.u32(0);
    out.u16(0x20C0);                             // automatic pattern colours
    out.endRecord();
}

void writeWorkbookGlobals(BiffBuffer &out, int sheetCount, const SharedStrings &strings,
                          QVector<qsizetype> *sheetOffsetFields)
{
    writeBof(out, bofWorkbookGlobals);

    out.beginRecord(BiffRecord::Codepage);
    out.u16(codepageUtf16);
    out.endRecord();

    out.beginRecord(BiffRecord::Window1);
    out.u16(0);      // left
    out.u16(0);      // top
    out.u16(0x4000); // width
    out.u16(0x2000); // height
    out.u16(0x0038); // scroll bars and sheet tabs shown
    out.u16(0);      // active sheet
    out.u16(0);      // first visible tab
    out.u16(1);      // selected sheets
    out.u16(0x0258); // tab bar width ratio
    out.endRecord();

    // Font index 4 does not exist in BIFF; five records give indices 0-3 and 5.
    for (int i = 0; i < 5; ++i)
        writeFont(out);
    for (int i = 0; i < styleXfCount; ++i)
        writeXf(out, true);
    writeXf(out, false);

    out.beginRecord(BiffRecord::Style);
    out.u16(0x8000); // built-in style on XF 0
    out.u8(0);       // "Normal"
    out.u8(0xFF);
    out.endRecord();

    for (int sheet = 0; sheet < sheetCount; ++sheet) {
        const QString name = QStringLiteral("Sheet%1").arg(sheet + 1);
        out.beginRecord(BiffRecord::BoundSheet);
        sheetOffsetFields->append(out.size());
        out.u32(0); // stream offset of the sheet's BOF, patched later
        out.u8(0);  // visible
        out.u8(0);  // worksheet
        out.u8(quint8(name.size()));
        out.u8(0); // one byte per character
        out.chars(name, true);
        out.endRecord();
    }

    strings.write(out);
    writeEof(out);
}

// false when progress was cancelled on the way.
bool writeSheet(BiffBuffer &out, const ContactList &contacts, qsizetype first, bool firstSheet,
                SharedStrings &strings, WorkProgress *progress)
{
    constexpr qsizetype rowsPerReport = 1024;
    const qsizetype count = std::min(rowsPerSheet, contacts.size() - first);
    writeBof(out, bofWorksheet);

    const std::array<int, columns> widths = ColumnWidth::fitted(contacts, first, count);
    for (int column = 0; column < columns; ++column) {
        if (widths[column] == 0)
            continue;
        // Width in 1/256 of a character, one character of margin.
        const int units = std::min(widths[column] + 1, ColumnWidth::maxUnits);
        out.beginRecord(BiffRecord::ColInfo);
        out.u16(quint16(column));
        out.u16(quint16(column));
        out.u16(quint16(units * 256));
        out.u16(textCellXf);
        out.u16(0); // visible, no outline
        out.u16(0);
        out.endRecord();
    }

    out.beginRecord(BiffRecord::Dimensions);
    out.u32(0);
    out.u32(quint32(count)); // last row + 1
    out.u16(0);
    out.u16(count > 0 ? columns : 0);
    out.u16(0);
    out.endRecord();

    for (qsizetype row = 0; row < count; ++row) {
        if (progress && row % rowsPerReport == 0 && !progress->advance(first + row))
            return false;
        const std::array<QStringView, columns> fields = contacts.at(first + row).texts();
        for (int column = 0; column < columns; ++column) {
            if (fields[column].isEmpty())
                continue; // an empty field is an empty cell
            out.beginRecord(BiffRecord::LabelSst);
            out.u16(quint16(row));
            out.u16(quint16(column));
            out.u16(textCellXf);
            out.u32(strings.use(fields[column]));
            out.endRecord();
        }
    }

    out.beginRecord(BiffRecord::Window2);
    // Grid, headers, zeros, default header colour, outline symbols; the first
    // sheet is also selected and shown.
    out.u16(firstSheet ? 0x06B6 : 0x00B6);
    out.u16(0); // top row
    out.u16(0); // left column
    out.u16(64); // header colour
    out.u16(0);
    out.u16(0); // zoom in page break preview
    out.u16(0); // zoom in normal view
    out.u32(0);
    out.endRecord();

    writeEof(out);
    return true;
}

QString tooLongField(const ContactList &contacts)
{
    for (qsizetype i = 0; i < contacts.size(); ++i) {
        for (QStringView field : contacts.at(i).texts()) {
            if (field.size() > maxCellChars)
                return QStringLiteral("第 %1 个联系人的内容超过 Excel 单元格的 %2 个字符上限")
                    .arg(i + 1)
                    .arg(maxCellChars);
        }
    }
    return QString();
}

// Empty when progress was cancelled on the way.
QByteArray workbookStream(const ContactList &contacts, WorkProgress *progress)
{
    const int sheetCount = int(std::max<qsizetype>(1, (contacts.size() + rowsPerSheet - 1) / rowsPerSheet));

    // Sheets first: their cells fill the shared string table that the
    // globals carry in front of them.
    SharedStrings strings;
    QVector<BiffBuffer> sheets(sheetCount);
    for (int sheet = 0; sheet < sheetCount; ++sheet) {
        if (!writeSheet(sheets[sheet], contacts, sheet * rowsPerSheet, sheet == 0, strings, progress))
            return QByteArray();
    }

    BiffBuffer stream;
    QVector<qsizetype> sheetOffsetFields;
    writeWorkbookGlobals(stream, sheetCount, strings, &sheetOffsetFields);
    for (int sheet = 0; sheet < sheetCount; ++sheet) {
        stream.patchU32(sheetOffsetFields.at(sheet), quint32(stream.size()));
        stream.bytes().append(sheets.at(sheet).bytes());
        sheets[sheet] = BiffBuffer();
    }
    if (stream.size() < minWorkbookStream)
        stream.zeros(int(minWorkbookStream - stream.size()));
    return stream.bytes();
}

// Wraps the workbook stream into an OLE2 compound file.
QByteArray compoundFile(const QByteArray &workbook, QString *error)
{
    GsfLibrary::ensureReady();

    const GsfLibrary::Owned<GsfOutput> sink(gsf_output_memory_new());
    // The OLE2 writer keeps its own reference to sink and closes it itself.
    const GsfLibrary::Owned<GsfOutfile> ole(gsf_outfile_msole_new(sink.get()));
    bool ok = false;
    if (const GsfLibrary::Owned<GsfOutput> stream{gsf_outfile_new_child(ole.get(), "Workbook", FALSE)}) {
        ok = gsf_output_write(stream.get(), gsize(workbook.size()),
                              reinterpret_cast<const guint8 *>(workbook.constData()));
        ok = gsf_output_close(stream.get()) && ok;
    }
    ok = gsf_output_close(GSF_OUTPUT(ole.get())) && ok;

    QByteArray bytes;
    if (ok) {
        const guint8 *data = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink.get()));
        bytes = QByteArray(reinterpret_cast<const char *>(data), qsizetype(gsf_output_size(sink.get())));
    }
    if (!ok && error)
        *error = QStringLiteral("无法生成工作簿");
    return bytes;
}

} // namespace

namespace {

bool buildWorkbook(const ContactList &contacts, WorkProgress *progress, QByteArray *bytes,
                   QString *error)
{
    const QString problem = tooLongField(contacts);
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    const QByteArray stream = workbookStream(contacts, progress);
    if (stream.isEmpty()) {
        if (error)
            *error = WorkProgress::cancelledMessage();
        return false;
    }
    *bytes = compoundFile(stream, error);
    return !bytes->isEmpty();
}

} // namespace

bool xlsWorkbook(const ContactList &contacts, QByteArray *bytes, QString *error)
{
    return buildWorkbook(contacts, nullptr, bytes, error);
}

bool writeXls(const QString &path, const ContactList &contacts, QString *error)
{
    return writeXls(path, contacts, nullptr, error);
}

bool writeXls(const QString &path, const ContactList &contacts, WorkProgress *progress,
              QString *error)
{
    if (progress)
        progress->setTotal(contacts.size());
    QByteArray bytes;
    if (!buildWorkbook(contacts, progress, &bytes, error))
        return false;
    return AtomicFile::write(
        path,
        [&bytes](const QString &temporaryPath, QString *writeError) {
            QFile file(temporaryPath);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                || file.write(bytes) != bytes.size() || !file.flush()) {
                *writeError = file.errorString();
                return false;
            }
            return true;
        },
        notCancelled(progress), error);
}
