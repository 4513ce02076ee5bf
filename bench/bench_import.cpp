// Import as the user meets it: every measurement is a fresh process, and the
// peers (Python's csv module, openpyxl read-only, xlrd, cat) read the same
// file in the same run.
//   build-bench/bin/bench_import [csv-rows xlsx-rows xls-rows]   # defaults 1000000 1000000 65000
//   build-bench/bin/bench_import --before OLD [rows ...]  # also OLD (an earlier build of this
//                                                          # program) on every file, same run
//   build-bench/bin/bench_import import FILE                     # one import, for perf or by hand
//   build-bench/bin/bench_import idle                            # start and exit, nothing else
//   build-bench/bin/bench_import floor COUNT                     # COUNT contacts built from texts in memory
//   build-bench/bin/bench_import make DIR [csv-rows xlsx-rows xls-rows] # only write the files
// Writes its files to a temporary folder and prints one Markdown table row
// per task: task, size, ours, peer, ratio, and the memory of each import.
// A count of 0 leaves that format out. Every format is also imported from a
// workbook of one contact: the fixed cost of a cold import (process start,
// dynamic linking, the libraries' set-up), beside the peer's on the same file.
#include "benchutil.h"
#include "exchange/contactimport.h"
#include "exchange/xls/xlswriter.h"
#include "exchange/xlsx/xlsxwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <malloc.h>
#include <minizip/zip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>

namespace {

// GBK, as a Chinese spreadsheet saves it; every fifth remark quoted with a
// separator and a doubled quote inside.
bool writeCsv(const QString &path, const ContactList &contacts)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QStringEncoder gbk("GBK");
    QString text;
    for (qsizetype i = 0; i < contacts.size(); ++i) {
        BenchUtil::appendCsvLine(text, contacts[i], i);
        if (text.size() > (1 << 20) || i + 1 == contacts.size()) {
            file.write(gbk.encode(text));
            text.clear();
        }
    }
    return file.error() == QFileDevice::NoError;
}

ContactList mixedOrder(ContactList contacts)
{
    std::shuffle(contacts.begin(), contacts.end(), std::mt19937(20261207));
    return contacts;
}

bool writeEmptyLines(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray block(1 << 20, '\n');
    for (qint64 done = 0; done < bytes; done += block.size())
        file.write(block);
    return file.error() == QFileDevice::NoError;
}

// A customer list as a spreadsheet program stores it: the mobile as a number,
// name, salutation and remark as indexes into the shared-string table, which
// holds every distinct text once in the order of first use. Names and remarks
// are nearly all different, as in a real list, so a million rows make about
// two million shared strings (the benchmark's other workbook has inline
// strings, which the table never sees). The rows come in a mixed order of
// their mobiles, as after the user sorted the sheet by another column.
class SharedStringsWorkbook
{
public:
    static bool write(const QString &path, int count)
    {
        SharedStringsWorkbook book;
        QByteArray sheet = head() + "<worksheet xmlns=\"" + mainNamespace + "\"><dimension ref=\"A1:D"
                           + QByteArray::number(count) + "\"/><sheetData>";
        std::mt19937 random(20261207);
        std::vector<qint64> mobiles(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            mobiles[size_t(i)] = 13000000000LL + qint64(i) * 7919 % 900000000;
        std::shuffle(mobiles.begin(), mobiles.end(), random);
        for (int i = 0; i < count; ++i) {
            const QByteArray r = QByteArray::number(i + 1);
            sheet += "<row r=\"" + r + "\" spans=\"1:4\"><c r=\"A" + r + "\"><v>" + QByteArray::number(mobiles[size_t(i)])
                     + "</v></c><c r=\"B" + r + "\" t=\"s\"><v>" + book.index(name(random)) + "</v></c><c r=\"C" + r
                     + "\" t=\"s\"><v>" + book.index(i % 2 ? "男" : "女") + "</v></c><c r=\"D" + r
                     + "\" t=\"s\"><v>" + book.index(remark(random)) + "</v></c></row>";
        }
        sheet += "</sheetData></worksheet>";
        QByteArray table = head() + "<sst xmlns=\"" + mainNamespace + "\" count=\"" + QByteArray::number(3 * qint64(count))
                           + "\" uniqueCount=\"" + QByteArray::number(book.m_strings.size()) + "\">";
        for (const QByteArray &text : std::as_const(book.m_strings))
            table += "<si><t>" + text + "</t></si>";
        table += "</sst>";
        book.m_strings.clear();
        book.m_index.clear();
        return writeZip(path, {{"[Content_Types].xml", contentTypes()},
                               {"_rels/.rels", relationships({{"officeDocument", "xl/workbook.xml"}})},
                               {"xl/workbook.xml", head() + "<workbook xmlns=\"" + mainNamespace + "\" xmlns:r=\""
                                                       + relNamespace + "\"><sheets><sheet name=\"客户\" sheetId=\"1\" "
                                                       "r:id=\"rId1\"/></sheets></workbook>"},
                               {"xl/_rels/workbook.xml.rels",
                                relationships({{"worksheet", "worksheets/sheet1.xml"}, {"sharedStrings", "sharedStrings.xml"}})},
                               {"xl/worksheets/sheet1.xml", sheet},
                               {"xl/sharedStrings.xml", table}});
    }

private:
    static constexpr const char *mainNamespace = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    static constexpr const char *relNamespace = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

    static QByteArray head() { return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"; }

    static QByteArray contentTypes()
    {
        const QByteArray sheetml = "application/vnd.openxmlformats-officedocument.spreadsheetml.";
        return head() + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
               "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
               "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
               "<Override PartName=\"/xl/workbook.xml\" ContentType=\"" + sheetml + "sheet.main+xml\"/>"
               "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"" + sheetml + "worksheet+xml\"/>"
               "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"" + sheetml + "sharedStrings+xml\"/>"
               "</Types>";
    }

    static QByteArray relationships(const QVector<std::pair<QByteArray, QByteArray>> &targets)
    {
        QByteArray xml = head() + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
        for (qsizetype i = 0; i < targets.size(); ++i) {
            xml += "<Relationship Id=\"rId" + QByteArray::number(i + 1) + "\" Type=\"" + relNamespace + "/"
                   + targets[i].first + "\" Target=\"" + targets[i].second + "\"/>";
        }
        return xml + "</Relationships>";
    }

    // A surname and one or two given characters: about 9 million names.
    static QByteArray name(std::mt19937 &random)
    {
        static const QString surnames = QStringLiteral("王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜叶程苏魏吕丁任沈姚卢姜崔钟谭陆汪范金石廖贾夏韦付方白邹孟熊秦邱江尹薛闫段雷侯龙史陶黎贺顾毛郝龚邵万钱严覃武戴莫孔向汤");
        static const QString given = QStringLiteral("伟芳娜秀英敏静丽强磊军洋勇艳杰娟涛明超秀兰霞平刚桂英华玉萍红娥玲芬燕彬鹏辉建国志成宇浩然子轩梓涵欣怡一诺思远佳琪雨桐俊杰文博天佑嘉怡晨曦海峰春梅秋菊冬雪晓东红梅丹凤桂芝淑珍宏伟永刚建华立新国强学军小龙");
        QString text = surnames[random() % surnames.size()];
        text += given[random() % given.size()];
        if (random() % 4)
            text += given[random() % given.size()];
        return text.toUtf8();
    }

    // An address and the note of a call: nearly every one different.
    static QByteArray remark(std::mt19937 &random)
    {
        static const QStringList streets{QStringLiteral("人民路"), QStringLiteral("解放路"), QStringLiteral("中山路"),
                                         QStringLiteral("建设路"), QStringLiteral("和平路"), QStringLiteral("新华路"),
                                         QStringLiteral("滨河路"), QStringLiteral("天水路"), QStringLiteral("东岗西路")};
        static const QStringList notes{QStringLiteral("意向高，下周再联系"), QStringLiteral("已加微信"),
                                       QStringLiteral("无人接听"), QStringLiteral("要求发资料"),
                                       QStringLiteral("老客户，回访满意"), QStringLiteral("暂不需要")};
        return QStringLiteral("%1%2号%3单元，%4月%5日：%6")
            .arg(streets[random() % streets.size()])
            .arg(random() % 2000 + 1)
            .arg(random() % 12 + 1)
            .arg(random() % 12 + 1)
            .arg(random() % 28 + 1)
            .arg(notes[random() % notes.size()])
            .toUtf8();
    }

    QByteArray index(const QByteArray &text)
    {
        auto found = m_index.constFind(text);
        if (found == m_index.constEnd()) {
            found = m_index.insert(text, qint32(m_strings.size()));
            m_strings.append(text);
        }
        return QByteArray::number(*found);
    }

    static bool writeZip(const QString &path, const QVector<std::pair<QByteArray, QByteArray>> &parts)
    {
        zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
        if (!zip)
            return false;
        bool ok = true;
        for (const auto &[name, data] : parts) {
            zip_fileinfo info{};
            ok = ok && zipOpenNewFileInZip64(zip, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                             Z_DEFAULT_COMPRESSION, 1) == ZIP_OK;
            ok = ok && zipWriteInFileInZip(zip, data.constData(), unsigned(data.size())) == ZIP_OK;
            ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
        }
        return zipClose(zip, nullptr) == ZIP_OK && ok;
    }

    QHash<QByteArray, qint32> m_index;
    QByteArrayList m_strings;
};

// A field of /proc/self/status in kB. (getrusage's peak is inherited from the
// parent across fork and exec, so it would show the benchmark's own peak.)
long statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

long peakKb()
{
    return statusKb("VmHWM:");
}

long currentKb()
{
    return statusKb("VmRSS:");
}

// The child: the list made by makeList (an import), then what it took.
int measureOnce(const std::function<bool(ContactList *)> &makeList)
{
    const long rssBefore = currentKb();
    // Heap in use, the large blocks glibc maps on their own included.
    auto heapInUse = [] {
        const struct mallinfo2 info = mallinfo2();
        return info.uordblks + info.hblkhd;
    };
    const size_t heapBefore = heapInUse();
    QElapsedTimer timer;
    timer.start();
    ContactList imported;
    const bool ok = makeList(&imported);
    const double ms = timer.nsecsElapsed() / 1e6;
    const size_t heapAfter = heapInUse();
    std::printf("%.1f %lld %ld %ld %ld\n", ms, qlonglong(imported.size()), peakKb() - rssBefore,
                long((heapAfter - heapBefore) / 1024), peakKb());
    std::fflush(stdout);
    // The import ends with the list in memory; the program keeps it, so
    // freeing it is no part of the import.
    std::_Exit(ok ? 0 : 1);
}

int importOnce(const QString &path)
{
    return measureOnce([&path](ContactList *contacts) {
        QString error;
        return importContacts(path, contacts, &error);
    });
}

// The floor under any import: count contacts made from texts already in
// memory and appended to a list, with nothing read, decoded or checked.
int buildListOnce(int count)
{
    const Contact model = BenchUtil::workbookContacts(1).constFirst();
    return measureOnce([&model, count](ContactList *contacts) {
        for (int i = 0; i < count; ++i)
            contacts->append(Contact(model.mobile(), model.name(), model.salutation(), model.remark(), -(i + 1)));
        return true;
    });
}

struct Run
{
    double wallMs = 0;
    QByteArray output;
};

// A fresh process; wall time from start to exit.
Run runProcess(const QString &program, const QStringList &arguments)
{
    QProcess process;
    if (program == u"cat")
        process.setStandardOutputFile(QStringLiteral("/dev/null"));
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    process.waitForFinished(-1);
    Run run{timer.nsecsElapsed() / 1e6, process.readAllStandardOutput()};
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
    return run;
}

struct Command
{
    QString program;
    QStringList arguments;
};

// The median of cold runs of each command, the commands taking turns so that
// a change in the machine's load hits them alike: three rounds, or eleven
// when a round takes less than a second.
QVector<Run> medianRuns(const QVector<Command> &commands)
{
    QVector<QVector<Run>> runs(commands.size());
    int rounds = 3;
    for (int round = 0; round < rounds; ++round) {
        double roundMs = 0;
        for (qsizetype i = 0; i < commands.size(); ++i) {
            runs[i].append(runProcess(commands[i].program, commands[i].arguments));
            roundMs += runs[i].last().wallMs;
        }
        if (round == 0 && roundMs < 1000)
            rounds = 11;
    }
    QVector<Run> medians;
    for (QVector<Run> &each : runs) {
        std::sort(each.begin(), each.end(), [](const Run &a, const Run &b) { return a.wallMs < b.wallMs; });
        medians.append(each[each.size() / 2]);
    }
    return medians;
}

const char pythonCsv[] = "import csv, sys\n"
                         "with open(sys.argv[1], encoding='gb18030', newline='') as f:\n"
                         "    rows = [row[:4] for row in csv.reader(f)]\n";
const char openpyxl[] = "import sys, openpyxl\n"
                        "wb = openpyxl.load_workbook(sys.argv[1], read_only=True)\n"
                        "rows = [list(r) for r in wb.worksheets[0].iter_rows(max_col=4, values_only=True)]\n"
                        "wb.close()\n";
const char xlrd[] = "import sys, xlrd\n"
                    "s = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
                    "rows = [[s.cell_value(r, c) for c in range(min(4, s.ncols))] for r in range(s.nrows)]\n";

// One row: an import (ours, or an earlier build's) against the peer's run.
void printRow(const QString &task, const QString &path, const Run &ours, const QString &peerName, const Run &peer)
{
    const QList<QByteArray> fields = ours.output.trimmed().split(' ');
    const double fileMb = QFileInfo(path).size() / 1048576.0;
    const double peakGrowthMb = fields.value(2).toDouble() / 1024;
    const double listMb = fields.value(3).toDouble() / 1024;
    std::printf("| %s | %.1f MB, %s contacts | %.0f ms (in-process %s ms) | %s %.0f ms | %.2f× | peak +%.1f MiB = "
                "%.2f× file, %.2f× list (%.1f MiB) |\n",
                qPrintable(task), fileMb, fields.value(1).constData(), ours.wallMs, fields.value(0).constData(),
                qPrintable(peerName), peer.wallMs, peer.wallMs / ours.wallMs, peakGrowthMb,
                peakGrowthMb / fileMb, listMb > 0 ? peakGrowthMb / listMb : 0.0, listMb);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "idle") == 0)
        return 0;
    if (argc == 3 && qstrcmp(argv[1], "import") == 0)
        return importOnce(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && qstrcmp(argv[1], "floor") == 0)
        return buildListOnce(std::atoi(argv[2]));

    const bool makeOnly = argc >= 3 && qstrcmp(argv[1], "make") == 0;
    const bool withBefore = argc >= 3 && qstrcmp(argv[1], "--before") == 0;
    const QString before = withBefore ? QString::fromLocal8Bit(argv[2]) : QString();
    const int first = makeOnly || withBefore ? 3 : 1;
    const int csvRows = argc > first ? std::atoi(argv[first]) : 1000000;
    const int xlsxRows = argc > first + 1 ? std::atoi(argv[first + 1]) : 1000000;
    const int xlsRows = argc > first + 2 ? std::atoi(argv[first + 2]) : 65000;
    QTemporaryDir temporary;
    const QDir dir(makeOnly ? QString::fromLocal8Bit(argv[2]) : temporary.path());
    const QString csv = dir.filePath("contacts.csv");
    const QString empty = dir.filePath("empty.csv");
    const QString xlsx = dir.filePath("contacts.xlsx");
    const QString sharedXlsx = dir.filePath("contacts-shared.xlsx");
    const QString xls = dir.filePath("contacts.xls");
    // The same contacts in a mixed order, as a user's sheet has them: the
    // duplicate check cannot lean on mobiles that keep rising.
    const QString mixedXls = dir.filePath("contacts-mixed.xls");
    const QString oneCsv = dir.filePath("one.csv");
    const QString oneXlsx = dir.filePath("one.xlsx");
    const QString oneXls = dir.filePath("one.xls");
    QString error;
    const ContactList one = BenchUtil::workbookContacts(1);
    if ((csvRows > 0 && (!writeCsv(csv, BenchUtil::workbookContacts(csvRows)) || !writeEmptyLines(empty, qint64(30) << 20)))
        || (xlsxRows > 0 && !writeXlsx(xlsx, BenchUtil::workbookContacts(xlsxRows), &error))
        || (xlsxRows > 0 && !SharedStringsWorkbook::write(sharedXlsx, xlsxRows))
        || (xlsRows > 0 && !writeXls(xls, BenchUtil::workbookContacts(xlsRows), &error))
        || (xlsRows > 0 && !writeXls(mixedXls, mixedOrder(BenchUtil::workbookContacts(xlsRows)), &error))
        || !writeCsv(oneCsv, one)
        || !writeXlsx(oneXlsx, one, &error) || !writeXls(oneXls, one, &error)) {
        std::fprintf(stderr, "cannot write the test files: %s\n", qPrintable(error));
        return 1;
    }

    if (makeOnly)
        return 0;

    const QString self = QCoreApplication::applicationFilePath();
    const QString python = QStringLiteral("/usr/bin/python3");
    // Ours, the earlier build if one was given, and the peer, in turns.
    auto task = [&](const QString &name, const QString &path, const QString &peerName, const QString &peerProgram,
                    const QStringList &peerArguments) {
        QVector<Command> commands{{self, {QStringLiteral("import"), path}}, {peerProgram, peerArguments}};
        if (withBefore)
            commands.append({before, {QStringLiteral("import"), path}});
        const QVector<Run> runs = medianRuns(commands);
        printRow(name, path, runs[0], peerName, runs[1]);
        if (withBefore)
            printRow(name + QStringLiteral(" (before)"), path, runs[2], peerName, runs[1]);
    };
    auto pythonRun = [&](const char *script, const QString &path) {
        return QStringList{QStringLiteral("-c"), QString::fromLatin1(script), path};
    };
    std::printf("| Task | Size | Ours (cold process, median of 3, of 11 when short) | Peer (same run) | Peer ÷ ours | Memory |\n"
                "|---|---|---|---|---|---|\n");
    const QVector<Run> starts =
        medianRuns({{self, {QStringLiteral("idle")}}, {python, {QStringLiteral("-c"), QStringLiteral("pass")}}});
    std::printf("| start and exit, no import | | %.0f ms | python3 -c pass %.0f ms | | |\n", starts[0].wallMs,
                starts[1].wallMs);
    task(QStringLiteral("CSV import, fixed cost"), oneCsv, QStringLiteral("Python csv"), python,
         pythonRun(pythonCsv, oneCsv));
    task(QStringLiteral(".xlsx import, fixed cost"), oneXlsx, QStringLiteral("openpyxl read-only"), python,
         pythonRun(openpyxl, oneXlsx));
    task(QStringLiteral(".xls import, fixed cost"), oneXls, QStringLiteral("xlrd"), python, pythonRun(xlrd, oneXls));
    if (csvRows > 0) {
        task(QStringLiteral("CSV import"), csv, QStringLiteral("Python csv"), python, pythonRun(pythonCsv, csv));
        task(QStringLiteral("CSV import"), csv, QStringLiteral("cat"), QStringLiteral("cat"), {csv});
        const QVector<Run> floor =
            medianRuns({{self, {QStringLiteral("floor"), QString::number(csvRows)}}, {QStringLiteral("cat"), {csv}}});
        printRow(QStringLiteral("building the list alone, no file read"), csv, floor[0], QStringLiteral("cat"), floor[1]);
        task(QStringLiteral("CSV of empty lines"), empty, QStringLiteral("cat"), QStringLiteral("cat"), {empty});
    }
    if (xlsxRows > 0) {
        task(QStringLiteral(".xlsx import"), xlsx, QStringLiteral("openpyxl read-only"), python,
             pythonRun(openpyxl, xlsx));
        task(QStringLiteral(".xlsx import, shared strings"), sharedXlsx, QStringLiteral("openpyxl read-only"), python,
             pythonRun(openpyxl, sharedXlsx));
    }
    if (xlsRows > 0) {
        task(QStringLiteral(".xls import"), xls, QStringLiteral("xlrd"), python, pythonRun(xlrd, xls));
        task(QStringLiteral(".xls import, mixed order"), mixedXls, QStringLiteral("xlrd"), python,
             pythonRun(xlrd, mixedXls));
    }
    return 0;
}
