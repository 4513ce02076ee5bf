// Import and export of a 65,000-contact .xls workbook, with python3-xlrd
// reading the same file in the same run as the baseline for the import.
//   build/bin/bench_xls [rows]
//   build/bin/bench_xls --import-loop [rows]   imports 100 times and nothing else, for perf
#include "benchutil.h"
#include "exchange/contactimport.h"
#include "exchange/xls/xlswriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

ContactList sampleContacts(int count)
{
    ContactList contacts;
    contacts.reserve(count);
    for (int i = 0; i < count; ++i) {
        contacts.append(Contact(QString::number(13900000000LL + i), QStringLiteral("客户%1").arg(i),
                                i % 2 ? QStringLiteral("先生") : QStringLiteral("女士"),
                                QStringLiteral("房间%1号，回访备注").arg(i % 997), -(i + 1),
                                i % 3 != 0));
    }
    return contacts;
}

const char xlrdScript[] = R"(
import sys, time, xlrd
best = None
for _ in range(3):
    t = time.perf_counter()
    sheet = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)
    rows = [[sheet.cell_value(r, c) for c in range(min(4, sheet.ncols))] for r in range(sheet.nrows)]
    elapsed = time.perf_counter() - t
    best = elapsed if best is None else min(best, elapsed)
print(best * 1000, len(rows))
)";

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool importLoop = args.removeAll(QStringLiteral("--import-loop")) > 0;
    const int rows = args.isEmpty() ? 65000 : args.first().toInt();
    QTemporaryDir dir;
    const QString path = dir.filePath("bench.xls");

    const ContactList contacts = sampleContacts(rows);
    QString error;
    if (importLoop) {
        if (!writeXls(path, contacts, &error)) {
            std::fprintf(stderr, "export failed: %s\n", qPrintable(error));
            return 1;
        }
        qsizetype imported = 0;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 100; ++i)
            imported += BenchUtil::importedCount(path);
        std::printf("imported %lld contacts in 100 runs, %.1f ms a run\n", qint64(imported),
                    timer.nsecsElapsed() / 1e8);
        return 0;
    }

    const long rssBefore = BenchUtil::peakMemoryKb();
    bool written = true;
    const double exportMs = BenchUtil::bestOfThreeMs([&] { written = writeXls(path, contacts, &error) && written; });
    const long rssAfterExport = BenchUtil::peakMemoryKb();
    if (!written) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(error));
        return 1;
    }

    qsizetype imported = 0;
    const double importMs = BenchUtil::bestOfThreeMs([&] { imported = BenchUtil::importedCount(path); });

    std::printf("contacts: %d\n", rows);
    std::printf("export:   %.1f ms (best of 3), peak RSS %ld KiB (%ld KiB before export)\n",
                exportMs, rssAfterExport, rssBefore);
    std::printf("import:   %.1f ms (best of 3), %lld contacts\n", importMs, qint64(imported));

    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(xlrdScript), path});
    if (!python.waitForFinished(600000) || python.exitCode() != 0) {
        std::printf("xlrd:     not available (%s)\n", python.readAllStandardError().constData());
        return 0;
    }
    const double xlrdMs = python.readAllStandardOutput().split(' ').value(0).toDouble();
    std::printf("xlrd:     %.1f ms (best of 3, same file, same run)\n", xlrdMs);
    std::printf("import is %.1fx faster than xlrd\n", xlrdMs / importMs);
    return 0;
}
