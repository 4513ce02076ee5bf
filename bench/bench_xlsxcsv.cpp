// Import of a 100,000-contact .xlsx workbook, with python3-openpyxl (read-only
// mode) reading the same file in the same run as the baseline, and import of
// a 100,000-contact CSV file (GBK, as saved by a Chinese spreadsheet).
//   build/bin/bench_xlsxcsv [rows]
#include "benchutil.h"
#include "exchange/contactimport.h"
#include "exchange/xlsx/xlsxreader.h"
#include "exchange/xlsx/xlsxwriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Every fifth remark quoted with a separator and a doubled quote inside.
QByteArray csvBytes(const ContactList &contacts)
{
    QString text = QStringLiteral("手机号,姓名,性别,备注\r\n");
    for (qsizetype i = 0; i < contacts.size(); ++i) {
        BenchUtil::appendCsvLine(text, contacts[i], i);
    }
    QStringEncoder gbk("GBK");
    return gbk.encode(text);
}

const char openpyxlScript[] = R"(
import sys, time, openpyxl
best = None
for _ in range(3):
    t = time.perf_counter()
    wb = openpyxl.load_workbook(sys.argv[1], read_only=True)
    rows = [list(r) for r in wb.worksheets[0].iter_rows(max_col=4, values_only=True)]
    wb.close()
    elapsed = time.perf_counter() - t
    best = elapsed if best is None else min(best, elapsed)
print(best * 1000, len(rows))
)";

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    const QString xlsxPath = dir.filePath("bench.xlsx");
    const QString csvPath = dir.filePath("bench.csv");

    const ContactList contacts = BenchUtil::workbookContacts(rows);
    QString error;
    bool written = true;
    const long rssBefore = BenchUtil::peakMemoryKb();
    const double exportMs = BenchUtil::bestOfThreeMs([&] { written = writeXlsx(xlsxPath, contacts, &error) && written; });
    const long rssAfterExport = BenchUtil::peakMemoryKb();
    QFile csv(csvPath);
    if (!written || !csv.open(QIODevice::WriteOnly) || csv.write(csvBytes(contacts)) < 0) {
        std::fprintf(stderr, "writing the test files failed: %s\n", qPrintable(error));
        return 1;
    }
    csv.close();

    qsizetype sheetRows = 0;
    const double readerMs = BenchUtil::bestOfThreeMs([&] {
        QVector<QStringList> rows;
        QString error;
        XlsxReader().readFirstSheet(xlsxPath, 4, &rows, &error);
        sheetRows = rows.size();
    });
    qsizetype xlsxContacts = 0;
    const double xlsxMs = BenchUtil::bestOfThreeMs([&] { xlsxContacts = BenchUtil::importedCount(xlsxPath); });
    qsizetype csvContacts = 0;
    const double csvMs = BenchUtil::bestOfThreeMs([&] { csvContacts = BenchUtil::importedCount(csvPath); });

    std::printf("contacts: %d (.xlsx %lld KiB, CSV %lld KiB)\n", rows, QFile(xlsxPath).size() / 1024,
                QFile(csvPath).size() / 1024);
    std::printf(".xlsx export:        %.1f ms (best of 3), peak RSS %ld KiB (%ld KiB before export)\n",
                exportMs, rssAfterExport, rssBefore);
    std::printf(".xlsx sheet reading: %.1f ms (best of 3), %lld rows\n", readerMs, qint64(sheetRows));
    std::printf(".xlsx import:        %.1f ms (best of 3), %lld contacts\n", xlsxMs, qint64(xlsxContacts));
    std::printf("CSV import:          %.1f ms (best of 3), %lld contacts\n", csvMs, qint64(csvContacts));

    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QString::fromLatin1(openpyxlScript), xlsxPath});
    if (!python.waitForFinished(600000) || python.exitCode() != 0) {
        std::printf("openpyxl:            not available (%s)\n", python.readAllStandardError().constData());
        return 0;
    }
    const double openpyxlMs = python.readAllStandardOutput().split(' ').value(0).toDouble();
    std::printf("openpyxl read-only:  %.1f ms (best of 3, same file, same run)\n", openpyxlMs);
    std::printf(".xlsx import is %.1fx faster than openpyxl\n", openpyxlMs / xlsxMs);
    return 0;
}
