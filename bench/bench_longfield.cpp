// One very long field through the whole window: a CSV whose one name is a
// run of letters without a single break, imported with the 导入 command into
// a shown main window and painted (the grid and the recipient list), next to
// the same bytes with a line break every 80 letters, in the same run. Every
// measurement is a fresh process; the parent runs itself as the child.
//   bench_longfield [MB ...]          # defaults 1 5 50
//   bench_longfield --child FILE      # one import, printing its milliseconds
#include "safekeeping/appsession.h"
#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "mainwindow/mainwindow.h"

#include <QPushButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// "手机号,姓名" and one contact whose name is bytes letters, in quotes; with
// breaks, every 80th letter is a line break instead.
bool writeCsv(const QString &path, qint64 bytes, bool withBreaks)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("\xca\xd6\xbb\xfa\xba\xc5,\xd0\xd5\xc3\xfb\n13958700001,\""); // GBK header
    QByteArray block(1 << 20, 'a');
    if (withBreaks) {
        for (qsizetype i = 79; i < block.size(); i += 80)
            block[i] = '\n';
    }
    for (qint64 done = 0; done < bytes; done += block.size())
        file.write(block.constData(), std::min<qint64>(block.size(), bytes - done));
    file.write("\"\n");
    return file.error() == QFileDevice::NoError;
}

int runChild(const QString &csv, int argc, char **argv)
{
    QTemporaryDir folder;
    AppSession session(folder.path());
    QString message;
    if (!session.start(&message)) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    QApplication application(argc, argv);
    MessageBox::setUnattended(true);
    MainWindow window(session.store(), folder.path());
    window.show();
    QApplication::processEvents();

    auto *importCommand = window.findChild<QPushButton *>(QStringLiteral("Command11"));
    if (!importCommand)
        return 1;
    FileDialog::setNextFileName(csv);
    QElapsedTimer timer;
    timer.start();
    importCommand->click();
    window.repaint(); // the grid and the list painted with the new contact
    QApplication::processEvents();
    std::printf("%.1f\n", timer.nsecsElapsed() / 1e6);
    std::fflush(stdout);
    std::_Exit(MessageBox::shownCount() == 0 ? 0 : 1);
}

double runOnce(const QString &self, const QString &csv)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(self, {QStringLiteral("--child"), csv});
    child.waitForFinished(-1);
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        std::fprintf(stderr, "the import of %s failed\n", qPrintable(csv));
    return child.readAllStandardOutput().trimmed().toDouble();
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && QByteArray(argv[1]) == "--child")
        return runChild(QString::fromLocal8Bit(argv[2]), argc, argv);

    QCoreApplication application(argc, argv);
    const QString self = QCoreApplication::applicationFilePath();
    QList<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes << QByteArray(argv[i]).toInt();
    if (sizes.isEmpty())
        sizes = {1, 5, 50};
    QTemporaryDir dir;
    std::printf("| field | unbroken | with line breaks | ratio |\n|---|---|---|---|\n");
    for (int megabytes : sizes) {
        const qint64 bytes = qint64(megabytes) << 20;
        const QString unbroken = dir.filePath(QStringLiteral("unbroken%1.csv").arg(megabytes));
        const QString broken = dir.filePath(QStringLiteral("broken%1.csv").arg(megabytes));
        if (!writeCsv(unbroken, bytes, false) || !writeCsv(broken, bytes, true))
            return 1;
        // Taking turns, so that a change in the machine's load hits both alike.
        QVector<double> unbrokenMs, brokenMs;
        for (int round = 0; round < 3; ++round) {
            unbrokenMs << runOnce(self, unbroken);
            brokenMs << runOnce(self, broken);
        }
        const double a = median(unbrokenMs);
        const double b = median(brokenMs);
        std::printf("| %d MB | %.0f ms | %.0f ms | %.2f× |\n", megabytes, a, b, a / b);
        std::fflush(stdout);
    }
    return 0;
}
