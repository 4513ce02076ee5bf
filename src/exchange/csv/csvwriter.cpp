#include "exchange/csv/csvwriter.h"

#include <QDir>
#include <QSaveFile>

#include <algorithm>

namespace {

// A field with a separator, a quote or a line break goes in quotes, its
// quotes doubled.
void appendField(QString &line, const QString &field)
{
    static const QString special = QStringLiteral(",\"\r\n");
    if (std::none_of(field.begin(), field.end(), [](QChar c) { return special.contains(c); })) {
        line += field;
        return;
    }
    line += u'"';
    line += QString(field).replace(u'"', QStringLiteral("\"\""));
    line += u'"';
}

QByteArray csvLine(const QStringList &fields)
{
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += u',';
        appendField(line, fields.at(i));
    }
    line += QStringLiteral("\r\n");
    return line.toUtf8();
}

} // namespace

bool writeCsvTable(const QString &path, const QStringList &heading, const RowProducer &rows,
                   QString *error)
{
    QSaveFile file(path);
    const auto put = [&file](const QByteArray &bytes) {
        return file.write(bytes) == bytes.size();
    };
    QString reason;
    bool ok = file.open(QIODevice::WriteOnly) && put(QByteArrayLiteral("\xEF\xBB\xBF"))
              && put(csvLine(heading));
    ok = ok && rows([&put](const QStringList &row) { return put(csvLine(row)); }, &reason);
    if (ok && file.commit())
        return true;
    file.cancelWriting();
    if (error)
        *error = QStringLiteral("无法写入文件 %1：%2")
                     .arg(QDir::toNativeSeparators(path),
                          reason.isEmpty() ? file.errorString() : reason);
    return false;
}
