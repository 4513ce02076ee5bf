// libFuzzer target: bytes -> temporary file -> one sheet reader. Built twice,
// with LANZHOU_FUZZ_XLSX for the .xlsx reader and without it for the CSV reader.
#include "exchange/csv/csvreader.h"
#include "exchange/xlsx/xlsxreader.h"

#include <QCoreApplication>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = QStringLiteral("/tmp/lanzhou_fuzz_sheet_%1").arg(::getpid());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();
#ifdef LANZHOU_FUZZ_XLSX
    XlsxReader reader;
#else
    CsvReader reader;
#endif
    // Every row has exactly the requested columns and a number inside the
    // sheet; a failure carries a reason.
    class CheckedRows : public SheetRowSink
    {
    public:
        void takeRow(qsizetype rowNumber, std::span<QString> cells) override
        {
            if (cells.size() != 4 || rowNumber < 1)
                __builtin_trap();
        }
    } rows;
    QString error;
    if (!reader.read(path, 4, rows, &error) && error.isEmpty())
        __builtin_trap();
    return 0;
}
