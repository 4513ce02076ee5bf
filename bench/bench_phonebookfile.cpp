// Writing the phone contact-book file for many recipients, next to writing
// the same bytes with one plain fwrite: the baseline of the same run.
#include "exchange/phonebook/phonebookfile.h"

#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <unistd.h>

namespace {

const QString Sms = QStringLiteral("尊敬的客户您好，本周五下午三点在公司三楼会议室召开客户答谢会，"
                                   "敬请光临。回复T退订。");

// Lines as the main window lists them: mobile@name+salutation@remark.
QString recipients(int count)
{
    static const QString names[] = {QStringLiteral("张三先生@房间001号"), QStringLiteral("李四女士"),
                                    QStringLiteral("王五@三楼"), QStringLiteral("赵六经理@@备注")};
    QString text;
    text.reserve(qsizetype(count) * 32);
    for (int i = 0; i < count; ++i) {
        text += QStringLiteral("139");
        text += QString::number(10'000'000 + i).right(8);
        text += u'@';
        text += names[i % 4];
        text += QStringLiteral("\r\n");
    }
    return text;
}

QString target(const QTemporaryDir &dir)
{
    return dir.filePath(QStringLiteral("客户.xcl"));
}

void phoneBookFileWrite(benchmark::State &state)
{
    const QString list = recipients(int(state.range(0)));
    QTemporaryDir dir;
    QString error;
    for (auto _ : state) {
        if (!PhoneBookFile::write(target(dir), Sms, list, &error))
            state.SkipWithError(qPrintable(error));
    }
    state.SetBytesProcessed(state.iterations()
                            * PhoneBookFile::content(Sms, list).size());
}

void phoneBookFileContent(benchmark::State &state)
{
    const QString list = recipients(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(PhoneBookFile::content(Sms, list));
}

void plainFwrite(benchmark::State &state)
{
    const QByteArray bytes = PhoneBookFile::content(Sms, recipients(int(state.range(0))));
    QTemporaryDir dir;
    const QByteArray path = target(dir).toLocal8Bit();
    for (auto _ : state) {
        FILE *file = std::fopen(path.constData(), "wb");
        if (!file || std::fwrite(bytes.constData(), 1, bytes.size(), file) != size_t(bytes.size()))
            state.SkipWithError("fwrite failed");
        if (file)
            std::fclose(file);
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

// The same with the flush to disk that a safe replace needs.
void plainFwriteAndFsync(benchmark::State &state)
{
    const QByteArray bytes = PhoneBookFile::content(Sms, recipients(int(state.range(0))));
    QTemporaryDir dir;
    const QByteArray path = target(dir).toLocal8Bit();
    for (auto _ : state) {
        FILE *file = std::fopen(path.constData(), "wb");
        if (!file || std::fwrite(bytes.constData(), 1, bytes.size(), file) != size_t(bytes.size())
            || std::fflush(file) != 0 || fsync(fileno(file)) != 0)
            state.SkipWithError("fwrite failed");
        if (file)
            std::fclose(file);
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

} // namespace

BENCHMARK(plainFwrite)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(plainFwriteAndFsync)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(phoneBookFileWrite)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(phoneBookFileContent)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
