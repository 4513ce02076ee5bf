// Writes the application icon for the icon theme: a PNG file per size,
// <output folder>/<size>x<size>/apps/<icon name>.png, and the scalable
// <output folder>/scalable/apps/<icon name>.svg
// Usage: lanzhou_make_icons <output folder> <icon name> <size>...

#include "mainwindow/artwork.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <output folder> <icon name> <size>...\n", argv[0]);
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    const QString iconFile = QString::fromLocal8Bit(argv[2]) + QStringLiteral(".png");
    for (int i = 3; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        const QString folder = output.filePath(QStringLiteral("%1x%1/apps").arg(size));
        const QString file = QDir(folder).filePath(iconFile);
        if (size <= 0 || !QDir().mkpath(folder)
            || !Artwork::applicationIconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    const QString scalable = output.filePath(QStringLiteral("scalable/apps"));
    QFile svg(QDir(scalable).filePath(QString::fromLocal8Bit(argv[2]) + QStringLiteral(".svg")));
    const QByteArray document = Artwork::applicationIconSvg();
    if (!QDir().mkpath(scalable) || !svg.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || svg.write(document) != document.size() || !svg.flush()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(svg.fileName()));
        return 1;
    }
    return 0;
}
