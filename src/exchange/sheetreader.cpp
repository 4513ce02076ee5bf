#include "exchange/sheetreader.h"

#include "exchange/csv/csvreader.h"
#include "exchange/ole2.h"
#include "exchange/xls/xlsreader.h"
#include "exchange/xlsx/xlsxreader.h"

#include <QFile>
#include <QFileInfo>

void RowBuffer::flush(SheetRowSink &sink)
{
    if (m_row <= 0)
        return;
    // A cell left unwritten goes out without the buffer of an earlier row, so
    // that a sink keeping the string keeps no stale capacity.
    for (size_t i = 0; i < m_cells.size(); ++i) {
        if (!m_written[i] && !m_cells[i].isNull())
            m_cells[i] = QString();
    }
    sink.takeRow(m_row, m_cells);
    // Emptied in place: a string the sink did not take keeps its buffer.
    for (size_t i = 0; i < m_cells.size(); ++i) {
        if (!m_cells[i].isNull())
            m_cells[i].resize(0);
        m_written[i] = false;
    }
    m_row = 0;
}

namespace {

// Collects every row, padded so that index + 1 is the sheet row number.
class AllRows : public SheetRowSink
{
public:
    AllRows(QVector<QStringList> &rows, int columns) : m_rows(rows), m_emptyRow(columns) {}

    void takeRow(qsizetype rowNumber, std::span<QString> cells) override
    {
        if (rowNumber > m_rows.size())
            m_rows.resize(rowNumber, m_emptyRow);
        QStringList &row = m_rows[rowNumber - 1];
        for (size_t i = 0; i < cells.size(); ++i) {
            if (!cells[i].isEmpty())
                row[qsizetype(i)] = QStringView(cells[i]).toString();
        }
    }

private:
    QVector<QStringList> &m_rows;
    const QStringList m_emptyRow; // shared by every row until written
};

} // namespace

bool SheetReader::readFirstSheet(const QString &path, int columns, QVector<QStringList> *rows,
                                 QString *error)
{
    rows->clear();
    AllRows sink(*rows, std::max(columns, 1));
    if (read(path, columns, sink, error))
        return true;
    rows->clear();
    return false;
}

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

    if (Ole2::hasSignature(head)) {
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
