#include "exchange/xlsx/xlsxwriter.h"

#include "core/atomicfile.h"
#include "core/cancelcheck.h"
#include "core/workprogress.h"
#include "exchange/columnwidth.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringEncoder>

#include <xlsxwriter/utility.h>
#include <xlsxwriter/workbook.h>

#include <array>

namespace {

constexpr qsizetype rowsPerSheet = LXW_ROW_MAX;
// Not one of the library's codes: the write was cancelled.
constexpr lxw_error cancelledCode = LXW_MAX_ERRNO;
// Rows between two reports of progress.
constexpr qsizetype rowsPerReport = 1024;

QString closeFailureReason(lxw_error code)
{
    switch (code) {
    case LXW_ERROR_CREATING_XLSX_FILE:
        return QStringLiteral("无法创建文件");
    case LXW_ERROR_CREATING_TMPFILE:
        return QStringLiteral("无法创建临时文件（临时文件夹不可写或磁盘已满）");
    case LXW_ERROR_MEMORY_MALLOC_FAILED:
        return QStringLiteral("内存不足");
    case LXW_ERROR_ZIP_FILE_OPERATION:
    case LXW_ERROR_ZIP_PARAMETER_ERROR:
    case LXW_ERROR_ZIP_BAD_ZIP_FILE:
    case LXW_ERROR_ZIP_INTERNAL_ERROR:
    case LXW_ERROR_ZIP_FILE_ADD:
    case LXW_ERROR_ZIP_CLOSE:
        return QStringLiteral("写入文件失败（磁盘可能已满）");
    default:
        return QStringLiteral("写入工作簿失败（%1）").arg(QString::fromUtf8(lxw_strerror(code)));
    }
}

// The cells' texts as the library takes them, each converted into one
// buffer kept from cell to cell: a million contacts would otherwise make
// four million short-lived copies, and every allocation costs a lock once
// the export runs beside the window's thread.
class CellUtf8
{
public:
    // Valid until the next call. Readers take _xHHHH_ in a cell as an escaped
    // character, so a text that holds such a sequence itself gets its
    // underscore escaped (_x005F_).
    const char *of(QStringView text)
    {
        if (text.contains(QLatin1StringView("_x"))) {
            static const QRegularExpression escapeLike(QStringLiteral("_(?=x[0-9A-Fa-f]{4}_)"));
            m_escaped = text.toString().replace(escapeLike, QStringLiteral("_x005F_"));
            text = m_escaped;
        }
        const qsizetype space = m_encoder.requiredSpace(text.size()) + 1;
        if (m_utf8.size() < space)
            m_utf8.resize(space);
        char *end = m_encoder.appendToBuffer(m_utf8.data(), text);
        if (m_encoder.hasError()) {
            // A lone half of a surrogate pair: written as QString::toUtf8
            // writes it ('?'), as the export always did.
            m_encoder.resetState();
            m_utf8 = text.toUtf8();
            return m_utf8.constData();
        }
        *end = '\0';
        return m_utf8.constData();
    }

private:
    QStringEncoder m_encoder{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    QByteArray m_utf8;
    QString m_escaped;
};

// Writes the rows [first, first + count) onto a new sheet.
lxw_error writeSheet(lxw_workbook *workbook, const ContactList &contacts, qsizetype first,
                     qsizetype count, WorkProgress *progress, qsizetype *failedRow)
{
    lxw_worksheet *sheet = workbook_add_worksheet(workbook, nullptr);
    if (!sheet)
        return LXW_ERROR_MEMORY_MALLOC_FAILED;
    // Widths before any cell: rows go straight to disk in constant-memory mode.
    const std::array<int, 4> widths = ColumnWidth::fitted(contacts, first, count);
    for (std::size_t i = 0; i < widths.size(); ++i) {
        if (widths[i] == 0)
            continue;
        const double units = std::min(widths[i] + 1, ColumnWidth::maxUnits);
        const auto column = lxw_col_t(i);
        const lxw_error error = worksheet_set_column(sheet, column, column, units, nullptr);
        if (error != LXW_NO_ERROR)
            return error;
    }
    CellUtf8 cellUtf8;
    for (qsizetype i = 0; i < count; ++i) {
        if (progress && i % rowsPerReport == 0 && !progress->advance(first + i))
            return cancelledCode;
        const std::array<QStringView, 4> fields = contacts.at(first + i).texts();
        for (std::size_t column = 0; column < fields.size(); ++column) {
            if (fields[column].isEmpty())
                continue;
            const lxw_error error =
                worksheet_write_string(sheet, lxw_row_t(i), lxw_col_t(column),
                                       cellUtf8.of(fields[column]), nullptr);
            if (error != LXW_NO_ERROR) {
                *failedRow = first + i;
                return error;
            }
        }
    }
    return LXW_NO_ERROR;
}

bool writeWorkbook(const QString &path, const ContactList &contacts, WorkProgress *progress,
                   QString *error)
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows stream to a temporary file
    lxw_workbook *workbook = workbook_new_opt(QFile::encodeName(path).constData(), &options);
    if (!workbook) {
        *error = QStringLiteral("内存不足");
        return false;
    }
    lxw_error failure = LXW_NO_ERROR;
    qsizetype failedRow = -1;
    qsizetype first = 0;
    do {
        const qsizetype count = std::min(rowsPerSheet, contacts.size() - first);
        failure = writeSheet(workbook, contacts, first, count, progress, &failedRow);
        first += count;
    } while (failure == LXW_NO_ERROR && first < contacts.size());

    const lxw_error closed = workbook_close(workbook); // frees it in every case
    if (failure == cancelledCode) {
        *error = WorkProgress::cancelledMessage();
        return false;
    }
    if (failure == LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED) {
        *error = QStringLiteral("第 %1 个联系人的内容过长，超出一个单元格能容纳的长度")
                     .arg(failedRow + 1);
        return false;
    }
    if (failure != LXW_NO_ERROR || closed != LXW_NO_ERROR) {
        *error = closeFailureReason(failure != LXW_NO_ERROR ? failure : closed);
        return false;
    }
    return true;
}

// Streams the producer's rows onto as many sheets as they need.
class TableSheets
{
public:
    TableSheets(lxw_workbook *workbook, const QStringList &heading, const QList<int> &widths)
        : m_workbook(workbook)
        , m_heading(heading)
        , m_widths(widths)
    {
    }

    bool add(const QStringList &row)
    {
        if ((!m_sheet || m_row == rowsPerSheet) && !newSheet())
            return false;
        return writeRow(row);
    }

    lxw_error failure() const { return m_failure; }
    qsizetype failedRow() const { return m_written; }

private:
    bool newSheet()
    {
        m_sheet = workbook_add_worksheet(m_workbook, nullptr);
        if (!m_sheet) {
            m_failure = LXW_ERROR_MEMORY_MALLOC_FAILED;
            return false;
        }
        m_row = 0;
        for (qsizetype i = 0; i < m_widths.size(); ++i) {
            const auto column = lxw_col_t(i);
            m_failure = worksheet_set_column(m_sheet, column, column,
                                             std::min(m_widths.at(i), ColumnWidth::maxUnits),
                                             nullptr);
            if (m_failure != LXW_NO_ERROR)
                return false;
        }
        return writeCells(m_heading);
    }

    bool writeRow(const QStringList &row)
    {
        if (!writeCells(row))
            return false;
        ++m_written;
        return true;
    }

    bool writeCells(const QStringList &cells)
    {
        for (qsizetype column = 0; column < cells.size(); ++column) {
            if (cells.at(column).isEmpty())
                continue;
            m_failure = worksheet_write_string(m_sheet, lxw_row_t(m_row), lxw_col_t(column),
                                               m_cellUtf8.of(cells.at(column)), nullptr);
            if (m_failure != LXW_NO_ERROR)
                return false;
        }
        ++m_row;
        return true;
    }

    lxw_workbook *m_workbook;
    const QStringList &m_heading;
    const QList<int> &m_widths;
    lxw_worksheet *m_sheet = nullptr;
    qsizetype m_row = 0;
    qsizetype m_written = 0;
    lxw_error m_failure = LXW_NO_ERROR;
    CellUtf8 m_cellUtf8;
};

bool writeTableWorkbook(const QString &path, const QStringList &heading, const QList<int> &widths,
                        const RowProducer &rows, QString *error)
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook *workbook = workbook_new_opt(QFile::encodeName(path).constData(), &options);
    if (!workbook) {
        *error = QStringLiteral("内存不足");
        return false;
    }
    TableSheets sheets(workbook, heading, widths);
    QString producerError;
    const bool produced = rows([&sheets](const QStringList &row) { return sheets.add(row); },
                               &producerError);
    // An empty list still gets its heading.
    if (produced && sheets.failure() == LXW_NO_ERROR && sheets.failedRow() == 0)
        sheets.add({});
    const lxw_error closed = workbook_close(workbook);
    if (sheets.failure() == LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED) {
        *error = QStringLiteral("第 %1 行的内容过长，超出一个单元格能容纳的长度")
                     .arg(sheets.failedRow() + 1);
        return false;
    }
    if (sheets.failure() != LXW_NO_ERROR || closed != LXW_NO_ERROR) {
        *error = closeFailureReason(sheets.failure() != LXW_NO_ERROR ? sheets.failure() : closed);
        return false;
    }
    if (!produced) {
        *error = producerError;
        return false;
    }
    return true;
}

} // namespace

bool writeXlsxTable(const QString &path, const QStringList &heading, const QList<int> &widths,
                    const RowProducer &rows, QString *error)
{
    return AtomicFile::write(
        path,
        [&](const QString &temporaryPath, QString *writeError) {
            return writeTableWorkbook(temporaryPath, heading, widths, rows, writeError);
        },
        error);
}

bool writeXlsx(const QString &path, const ContactList &contacts, QString *error)
{
    return writeXlsx(path, contacts, nullptr, error);
}

bool writeXlsx(const QString &path, const ContactList &contacts, WorkProgress *progress,
               QString *error)
{
    if (progress)
        progress->setTotal(contacts.size());
    const bool written = AtomicFile::write(
        path,
        [&contacts, progress](const QString &temporaryPath, QString *writeError) {
            return writeWorkbook(temporaryPath, contacts, progress, writeError);
        },
        notCancelled(progress), error);
    if (written && progress)
        progress->setDone(contacts.size());
    return written;
}
