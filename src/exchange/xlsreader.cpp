#include "xlsreader.h"

#include "textrules.h"

#include <QFile>

#include <freexl.h>

namespace {

// Owns a FreeXL handle; FreeXL wants freexl_close even after a failed open.
class FreeXlHandle
{
public:
    FreeXlHandle() = default;
    FreeXlHandle(const FreeXlHandle &) = delete;
    FreeXlHandle &operator=(const FreeXlHandle &) = delete;
    ~FreeXlHandle()
    {
        if (m_handle)
            freexl_close(m_handle);
    }

    const void **out() { return &m_handle; }
    const void *get() const { return m_handle; }

private:
    const void *m_handle = nullptr;
};

QString openFailureReason(int code)
{
    switch (code) {
    case FREEXL_FILE_NOT_FOUND:
        return QStringLiteral("文件不存在或无法读取");
    case FREEXL_INSUFFICIENT_MEMORY:
        return QStringLiteral("内存不足，无法读取该工作簿");
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return QStringLiteral("文件中没有 Excel 工作簿");
    case FREEXL_UNSUPPORTED_CHARSET:
    case FREEXL_INVALID_CHARACTER:
        return QStringLiteral("工作簿使用了无法识别的字符编码");
    case FREEXL_CRAFTED_FILE:
        return QStringLiteral("文件已严重损坏，已拒绝读取");
    default:
        return QStringLiteral("文件已损坏或不是 Excel 工作簿");
    }
}

QString cellText(const FreeXL_CellValue &cell)
{
    switch (cell.type) {
    case FREEXL_CELL_INT:
        return TextRules::plainDecimal(cell.value.int_value);
    case FREEXL_CELL_DOUBLE:
        return TextRules::plainDecimal(cell.value.double_value);
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME:
        return cell.value.text_value ? QString::fromUtf8(cell.value.text_value) : QString();
    default: // empty, formula (FreeXL gives no value) or error
        return QString();
    }
}

} // namespace

SheetRows XlsReader::readFirstSheet(const QString &path, int columns)
{
    SheetRows result;
    auto fail = [&result](const QString &reason) {
        result.ok = false;
        result.error = reason;
        result.rows.clear();
        return result;
    };

    FreeXlHandle handle;
    const int opened = freexl_open(QFile::encodeName(path).constData(), handle.out());
    if (opened != FREEXL_OK)
        return fail(openFailureReason(opened));

    unsigned int info = 0;
    if (freexl_get_info(handle.get(), FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK
        && info == FREEXL_BIFF_OBFUSCATED)
        return fail(QStringLiteral("工作簿设有密码保护，无法读取"));

    if (freexl_get_info(handle.get(), FREEXL_BIFF_SHEET_COUNT, &info) != FREEXL_OK || info == 0)
        return fail(QStringLiteral("工作簿中没有工作表"));

    if (freexl_select_active_worksheet(handle.get(), 0) != FREEXL_OK)
        return fail(QStringLiteral("无法打开第一个工作表"));

    // FreeXL reports the last used row + 1 and the last used column + 1.
    unsigned int rowCount = 0;
    unsigned short columnCount = 0;
    if (freexl_worksheet_dimensions(handle.get(), &rowCount, &columnCount) != FREEXL_OK)
        return fail(QStringLiteral("无法读取第一个工作表的大小"));

    const int readColumns = std::min<int>(columns, columnCount);
    result.rows.reserve(rowCount);
    for (unsigned int row = 0; row < rowCount; ++row) {
        QStringList cells;
        cells.reserve(columns);
        for (int column = 0; column < readColumns; ++column) {
            FreeXL_CellValue cell;
            if (freexl_get_cell_value(handle.get(), row, column, &cell) == FREEXL_OK)
                cells.append(cellText(cell));
            else
                cells.append(QString());
        }
        while (cells.size() < columns)
            cells.append(QString());
        result.rows.append(cells);
    }
    result.ok = true;
    return result;
}
