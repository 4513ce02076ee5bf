#include "exchange/xls/xlsreader.h"

#include "exchange/xls/biff8workbook.h"

bool XlsReader::read(const QString &path, int columns, SheetRowSink &sink, QString *error)
{
    Biff8Workbook workbook;
    switch (workbook.load(path)) {
    case Biff8Workbook::Status::Ok:
        return workbook.readFirstSheet(columns, sink, error);
    case Biff8Workbook::Status::Encrypted:
        *error = QStringLiteral("工作簿设有密码保护，无法读取");
        break;
    case Biff8Workbook::Status::OlderBiff:
        *error = QStringLiteral("这是 Excel 95 或更早版本的工作簿，请先在 Excel 中另存为"
                                      "“Excel 97-2003 工作簿”再导入");
        break;
    case Biff8Workbook::Status::NotCompoundFile:
    case Biff8Workbook::Status::Damaged:
        *error = QStringLiteral("文件已损坏或不是 Excel 工作簿");
        break;
    }
    return false;
}
