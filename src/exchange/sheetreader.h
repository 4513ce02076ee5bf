#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <span>
#include <vector>

// Receives the rows of a worksheet as the reader comes to them, in sheet
// order: every row that holds a cell (a CSV record counts as a row), with its
// 1-based row number and exactly the requested number of cells (columns A, B,
// ...), "" where the row has none (a CSV record that is an empty line holds
// none and is not handed over). The cells are the reader's: their texts may
// point into its buffers and are valid only during the call, so a sink that
// keeps a text copies its characters (QStringView::toString); the reader
// refills the cells for the next row.
class SheetRowSink
{
public:
    virtual ~SheetRowSink() = default;
    virtual void takeRow(qsizetype rowNumber, std::span<QString> cells) = 0;

    // Called between blocks of the file with how much of the sheet's data has
    // been read (done of total, in bytes of what the reader parses). false
    // stops the read: read() then fails with WorkProgress::cancelledMessage().
    virtual bool proceed(qint64 done, qint64 total)
    {
        Q_UNUSED(done);
        Q_UNUSED(total);
        return true;
    }
};


// One implementation per file format; the import rules live elsewhere and
// exist once.
class SheetReader
{
public:
    virtual ~SheetReader() = default;

    // Hands the rows of the first worksheet to sink, never more than one row
    // in memory. On failure error says why (in the user's language); rows
    // handed over before the fault was found are then to be dropped.
    virtual bool read(const QString &path, int columns, SheetRowSink &sink, QString *error) = 0;

    // read() into memory, for tools and checks on small files: one
    // QStringList per sheet row from row 1 through the last row that holds
    // any cell, empty rows included. On failure rows is left empty.
    bool readFirstSheet(const QString &path, int columns, QVector<QStringList> *rows,
                        QString *error);

    // The reader for the file's content (not its name): OLE2 signature,
    // zip signature, otherwise text. Fails when the file cannot be read.
    static std::unique_ptr<SheetReader> forFile(const QString &path, QString *error);
};

// Reusable cells of the row being read: set cells, then hand them on. A cell
// keeps its buffer from row to row (when the sink leaves it there), so a
// reader may convert straight into it instead of making a string per cell.
class RowBuffer
{
public:
    explicit RowBuffer(int columns)
        : m_cells(size_t(std::max(columns, 1))), m_written(size_t(std::max(columns, 1)))
    {
    }

    int columns() const { return int(m_cells.size()); }
    qsizetype rowNumber() const { return m_row; }
    bool isOpen() const { return m_row > 0; }

    // Starts a row; the cells are empty.
    void open(qsizetype rowNumber) { m_row = rowNumber; }
    // column is 0-based; cells beyond the requested columns are dropped.
    void set(qsizetype column, QString text)
    {
        if (column >= 0 && column < qsizetype(m_cells.size()))
            cell(column) = std::move(text);
    }
    // The cell to write into (0 <= column < columns()): empty, possibly with
    // capacity left from an earlier row. Assign or overwrite it whole.
    QString &cell(qsizetype column)
    {
        m_written[size_t(column)] = true;
        return m_cells[size_t(column)];
    }
    // Hands the open row (if any) to the sink and empties the cells.
    void flush(SheetRowSink &sink);

private:
    std::vector<QString> m_cells;
    std::vector<char> m_written; // per cell: written in the open row
    qsizetype m_row = 0;
};
