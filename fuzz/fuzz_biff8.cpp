// libFuzzer target: bytes as the workbook stream of an .xls file, past the
// compound file, straight into the BIFF8 records: globals, shared strings,
// number formats, and the cell records of the first sheet (formulas with their
// STRING and CONTINUE records, booleans, errors).
#include "exchange/xls/biff8workbook.h"

#include <cstddef>
#include <cstdint>

namespace {

class CheckedRows : public SheetRowSink
{
public:
    void takeRow(qsizetype rowNumber, std::span<QString> cells) override
    {
        // Every row has the requested cells and a number inside the sheet.
        if (cells.size() != 4 || rowNumber < 1 || rowNumber > 65536)
            __builtin_trap();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Biff8Workbook workbook;
    const QByteArray stream(reinterpret_cast<const char *>(data), qsizetype(size));
    if (workbook.loadStream(stream) != Biff8Workbook::Status::Ok)
        return 0;
    CheckedRows rows;
    QString error;
    if (!workbook.readFirstSheet(4, rows, &error) && error.isEmpty())
        __builtin_trap(); // a failure always says why
    return 0;
}
