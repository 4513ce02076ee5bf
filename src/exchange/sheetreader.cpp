#include "sheetreader.h"

#include "csvreader.h"
#include "xlsreader.h"
#include "xlsxreader.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Compound-document (OLE2) signature: every .xls workbook starts with it.
constexpr char ole2Signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

} // namespace

std::unique_ptr<SheetReader> SheetReader::forFile(const QString &path, QString *error)
{
    auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return std::unique_ptr<SheetReader>();
    };

    const QFileInfo info(path);
    if (!info.exists())
        return fail(QStringLiteral("文件不存在"));
    if (info.isDir())
        return fail(QStringLiteral("这是一个文件夹，不是文件"));

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("无法读取文件（%1）").arg(file.errorString()));
    const QByteArray head = file.read(8);
    if (head.isEmpty())
        return fail(QStringLiteral("文件是空的"));

    if (head == QByteArray::fromRawData(ole2Signature, 8)) {
        // A password-protected .xlsx is stored inside a compound file too.
        if (XlsxReader::isEncryptedPackage(path))
            return std::make_unique<XlsxReader>();
        return std::make_unique<XlsReader>();
    }
    // A zip archive (an empty one starts with its end record).
    if (head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06"))
        return std::make_unique<XlsxReader>();
    return std::make_unique<CsvReader>();
}
