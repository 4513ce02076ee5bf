#include "xlsxreader.h"

#include "textrules.h"
#include "xlsxcellformats.h"
#include "xlsxpackage.h"
#include "xmlscanner.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <cctype>

namespace {

constexpr qint64 maxSmallPartBytes = qint64(16) << 20;
constexpr qint64 maxSharedStringBytes = qint64(256) << 20;
constexpr qint64 maxSheetBytes = qint64(1) << 30;
constexpr int maxSheetRows = 1048576; // the format's own limit

const QByteArray ole2Signature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);

QString encryptedMessage()
{
    return QStringLiteral("工作簿设置了打开密码（已加密），无法读取；请先在电子表格程序中取消密码再导入");
}

QString notWorkbookMessage()
{
    return QStringLiteral("文件不是 Excel 工作簿（.xlsx），其中找不到工作表");
}

bool isNamed(const QXmlStreamReader &xml, const char *name)
{
    return xml.name() == QLatin1StringView(name);
}

// Excel writes characters that XML cannot hold as _xHHHH_.
QString decodeEscapes(QString text)
{
    qsizetype at = text.indexOf(QLatin1StringView("_x"));
    while (at >= 0 && at + 7 <= text.size()) {
        bool ok = false;
        const uint code = QStringView(text).mid(at + 2, 4).toUInt(&ok, 16);
        if (ok && text[at + 6] == u'_') {
            text.replace(at, 7, QChar(char16_t(code)));
            at = text.indexOf(QLatin1StringView("_x"), at + 1);
        } else {
            at = text.indexOf(QLatin1StringView("_x"), at + 2);
        }
    }
    return text;
}

// The text of a string item (<si> or <is>): plain <t>, or the runs <r><t>
// of rich text; phonetic guides (<rPh>) are not part of the text.
QString readStringItem(XmlScanner &xml)
{
    QString text;
    int depth = 1;
    while (depth > 0) {
        const XmlScanner::Token token = xml.next();
        if (token == XmlScanner::Token::EndElement) {
            --depth;
        } else if (token == XmlScanner::Token::StartElement) {
            if (xml.name() == "t")
                text.isEmpty() ? void(text = xml.readElementText()) : void(text += xml.readElementText());
            else if (xml.name() == "r")
                ++depth;
            else
                xml.skipElement();
        } else if (token != XmlScanner::Token::Text) {
            break;
        }
    }
    return text.contains(QLatin1StringView("_x")) ? decodeEscapes(std::move(text)) : text;
}

// "C7" -> column 3 (1-based) and row 7; either may be 0 when absent.
void parseCellReference(QByteArrayView ref, int *column, int *row)
{
    qsizetype i = 0;
    qint64 col = 0;
    for (; i < ref.size() && std::isalpha(uchar(ref[i])); ++i) {
        col = col * 26 + (std::toupper(uchar(ref[i])) - 'A' + 1);
        if (col > 16384)
            col = 16385; // beyond the last column; keep it from growing
    }
    qint64 r = 0;
    for (; i < ref.size() && std::isdigit(uchar(ref[i])); ++i) {
        r = r * 10 + (ref[i] - '0');
        if (r > maxSheetRows)
            r = maxSheetRows + 1;
    }
    *column = int(col);
    *row = int(r);
}

// The t attribute of a cell.
enum class CellType { Number, SharedString, InlineString, Boolean, Error, FormulaString, IsoDate };

CellType cellType(QByteArrayView t)
{
    if (t == "s")
        return CellType::SharedString;
    if (t == "inlineStr")
        return CellType::InlineString;
    if (t == "str")
        return CellType::FormulaString;
    if (t == "b")
        return CellType::Boolean;
    if (t == "e")
        return CellType::Error;
    if (t == "d")
        return CellType::IsoDate;
    return CellType::Number;
}

struct WorkbookParts
{
    QString sheet;
    QString sharedStrings;
    QString styles;
    bool date1904 = false;
};

class XlsxSheetLoader
{
public:
    XlsxSheetLoader(XlsxPackage &package, int columns) : m_package(package), m_columns(columns) {}

    bool findParts(WorkbookParts *parts, QString *error);
    bool readSharedStrings(const QString &partName, QString *error);
    bool readStyles(const QString &partName, QString *error);
    bool readSheet(const QString &partName, bool date1904, QVector<QStringList> *rows,
                   QString *error);

private:
    QString cellText(CellType type, int style, const QString &value, const QString &inlineText,
                     bool date1904, QString *error) const;

    XlsxPackage &m_package;
    int m_columns;
    QVector<QString> m_sharedStrings;
    XlsxCellFormats m_formats;
};

bool XlsxSheetLoader::findParts(WorkbookParts *parts, QString *error)
{
    XlsxPackage::Relationships rels;
    if (!m_package.readRelationships(QString(), &rels, error))
        return false;
    QString workbook;
    for (const XlsxPackage::Relationship &rel : std::as_const(rels)) {
        if (rel.type.endsWith(QLatin1StringView("/officeDocument")))
            workbook = rel.target;
    }
    if (workbook.isEmpty())
        workbook = QStringLiteral("xl/workbook.xml");
    if (!m_package.contains(workbook)) {
        *error = notWorkbookMessage();
        return false;
    }

    std::unique_ptr<QIODevice> device = m_package.openPart(workbook, maxSmallPartBytes, error);
    if (!device)
        return false;
    QXmlStreamReader xml(device.get());
    QStringList sheetIds;
    bool rootSeen = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (!rootSeen) {
            rootSeen = true;
            if (!isNamed(xml, "workbook")) {
                *error = notWorkbookMessage();
                return false;
            }
        } else if (isNamed(xml, "workbookPr")) {
            const QStringView value = xml.attributes().value(QLatin1StringView("date1904"));
            parts->date1904 = value == QLatin1StringView("1") || value == QLatin1StringView("true");
        } else if (isNamed(xml, "sheet")) {
            // r:id, whatever prefix the relationships namespace got.
            for (const QXmlStreamAttribute &attribute : xml.attributes()) {
                if (attribute.name() == QLatin1StringView("id") && !attribute.namespaceUri().isEmpty())
                    sheetIds.append(attribute.value().toString());
            }
        }
    }
    if (xml.hasError()) {
        *error = XlsxPackage::partReadError(device.get(), workbook);
        return false;
    }
    device.reset();

    if (!m_package.readRelationships(workbook, &rels, error))
        return false;
    for (const XlsxPackage::Relationship &rel : std::as_const(rels)) {
        if (rel.type.endsWith(QLatin1StringView("/sharedStrings")))
            parts->sharedStrings = rel.target;
        else if (rel.type.endsWith(QLatin1StringView("/styles")))
            parts->styles = rel.target;
    }
    // The first worksheet in workbook order; chart sheets do not count.
    for (const QString &id : std::as_const(sheetIds)) {
        const auto rel = rels.constFind(id);
        if (rel != rels.constEnd() && rel->type.endsWith(QLatin1StringView("/worksheet"))) {
            parts->sheet = rel->target;
            break;
        }
    }
    if (parts->sheet.isEmpty()) {
        *error = QStringLiteral("工作簿中没有工作表");
        return false;
    }
    return true;
}

bool XlsxSheetLoader::readSharedStrings(const QString &partName, QString *error)
{
    std::unique_ptr<QIODevice> device = m_package.openPart(partName, maxSharedStringBytes, error);
    if (!device)
        return false;
    XmlScanner xml(device.get());
    for (XmlScanner::Token token = xml.next(); token != XmlScanner::Token::EndDocument;
         token = xml.next()) {
        if (token == XmlScanner::Token::Error) {
            *error = XlsxPackage::partReadError(device.get(), partName);
            return false;
        }
        if (token == XmlScanner::Token::StartElement && xml.name() == "si")
            m_sharedStrings.append(readStringItem(xml));
    }
    return true;
}

bool XlsxSheetLoader::readStyles(const QString &partName, QString *error)
{
    std::unique_ptr<QIODevice> device = m_package.openPart(partName, maxSmallPartBytes, error);
    if (!device)
        return false;
    QXmlStreamReader xml(device.get());
    m_formats.read(xml);
    if (xml.hasError()) {
        *error = XlsxPackage::partReadError(device.get(), partName);
        return false;
    }
    return true;
}

QString XlsxSheetLoader::cellText(CellType type, int style, const QString &value,
                                  const QString &inlineText, bool date1904, QString *error) const
{
    if (type == CellType::SharedString) {
        bool ok = false;
        const qsizetype index = value.trimmed().toLongLong(&ok);
        if (!ok || index < 0 || index >= m_sharedStrings.size()) {
            *error = QStringLiteral("工作簿内容已损坏（单元格引用了不存在的字符串）");
            return QString();
        }
        return m_sharedStrings[index];
    }
    if (type == CellType::InlineString)
        return inlineText;
    if (type == CellType::Boolean)
        return value.trimmed() == QLatin1StringView("1") ? QStringLiteral("TRUE")
                                                          : QStringLiteral("FALSE");
    if (type == CellType::Error) // #N/A and the like: no text, as in .xls
        return QString();
    if (type == CellType::FormulaString)
        return value.contains(QLatin1StringView("_x")) ? decodeEscapes(value) : value;
    if (type == CellType::IsoDate) {
        // ISO 8601 text; a date without a time of day reads as the date.
        QString text = value.trimmed();
        if (text.endsWith(QLatin1StringView("T00:00:00")) || text.endsWith(QLatin1StringView("T00:00:00Z")))
            text.truncate(text.indexOf(u'T'));
        return text.replace(u'T', u' ');
    }
    // A number (type "n" or none).
    if (value.isEmpty())
        return QString();
    bool ok = false;
    const double number = value.trimmed().toDouble(&ok);
    if (!ok)
        return value;
    const XlsxCellFormats::Kind kind = m_formats.kindOfStyle(style);
    if (kind != XlsxCellFormats::Kind::Number) {
        QString text = XlsxCellFormats::serialText(number, kind, date1904);
        if (!text.isEmpty())
            return text;
    }
    return TextRules::plainDecimal(number);
}

bool XlsxSheetLoader::readSheet(const QString &partName, bool date1904, QVector<QStringList> *rows,
                                QString *error)
{
    std::unique_ptr<QIODevice> device = m_package.openPart(partName, maxSheetBytes, error);
    if (!device)
        return false;
    using Token = XmlScanner::Token;
    XmlScanner xml(device.get());
    const QStringList emptyRow(m_columns); // shared by every row until written
    int row = 0;
    int column = 0;
    int lastRow = 0;
    bool inSheetData = false;
    for (Token token = xml.next(); token != Token::EndDocument; token = xml.next()) {
        if (token == Token::Error) {
            *error = XlsxPackage::partReadError(device.get(), partName);
            return false;
        }
        if (token == Token::EndElement && xml.name() == "sheetData")
            inSheetData = false;
        if (token != Token::StartElement)
            continue;
        if (!inSheetData) {
            inSheetData = xml.name() == "sheetData";
            continue;
        }
        if (xml.name() == "row") {
            bool ok = false;
            const int number = xml.rawAttribute("r").toInt(&ok);
            row = ok ? number : row + 1;
            column = 0;
            if (row < 1 || row > maxSheetRows) {
                *error = QStringLiteral("工作表的行号超出范围（最多 %1 行）").arg(maxSheetRows);
                return false;
            }
            continue;
        }
        if (xml.name() != "c") {
            xml.skipElement();
            continue;
        }

        int refColumn = 0;
        int refRow = 0;
        parseCellReference(xml.rawAttribute("r"), &refColumn, &refRow);
        column = refColumn > 0 ? refColumn : column + 1;
        if (row == 0) // a cell outside any row element
            row = refRow > 0 ? refRow : 1;
        const CellType type = cellType(xml.rawAttribute("t"));
        const int style = xml.rawAttribute("s").toInt();

        QString value;
        QString inlineText;
        for (Token child = xml.next(); child != Token::EndElement; child = xml.next()) {
            if (child == Token::Error || child == Token::EndDocument)
                break; // reported by the outer loop
            if (child != Token::StartElement)
                continue;
            if (xml.name() == "v")
                value = xml.readElementText();
            else if (xml.name() == "is")
                inlineText = readStringItem(xml);
            else
                xml.skipElement();
        }
        if (xml.hasError()) {
            *error = XlsxPackage::partReadError(device.get(), partName);
            return false;
        }
        lastRow = std::max(lastRow, row);
        if (column > m_columns)
            continue;
        const QString text = cellText(type, style, value, inlineText, date1904, error);
        if (!error->isEmpty())
            return false;
        if (rows->size() < row)
            rows->resize(row, emptyRow);
        (*rows)[row - 1][column - 1] = text;
    }
    if (rows->size() < lastRow)
        rows->resize(lastRow, emptyRow);
    return true;
}

} // namespace

bool XlsxReader::isEncryptedPackage(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(8) != ole2Signature)
        return false;
    // Directory entries are 128 bytes long and start with the stream's name
    // in UTF-16; the entries of a compound file always lie on such a boundary.
    static const QByteArray name = [] {
        const QString text = QStringLiteral("EncryptedPackage");
        QByteArray bytes;
        for (QChar c : text)
            bytes.append(char(c.unicode())).append('\0');
        return bytes.append(2, '\0');
    }();
    const qint64 size = file.size();
    const uchar *data = file.map(0, size);
    if (!data)
        return false;
    const QByteArrayView all(data, size);
    bool found = false;
    for (qsizetype at = all.indexOf(name); at >= 0 && !found; at = all.indexOf(name, at + 1))
        found = at % 128 == 0;
    file.unmap(const_cast<uchar *>(data));
    return found;
}

SheetRows XlsxReader::readFirstSheet(const QString &path, int columns)
{
    SheetRows result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("无法打开文件：%1").arg(file.errorString());
        return result;
    }
    const QByteArray head = file.read(8);
    file.close();
    if (head == ole2Signature) {
        result.error = isEncryptedPackage(path) ? encryptedMessage() : notWorkbookMessage();
        return result;
    }

    XlsxPackage package;
    WorkbookParts parts;
    XlsxSheetLoader loader(package, std::max(columns, 1));
    QString error;
    if (!package.open(path, &error) || !loader.findParts(&parts, &error)
        || (!parts.sharedStrings.isEmpty() && package.contains(parts.sharedStrings)
            && !loader.readSharedStrings(parts.sharedStrings, &error))
        || (!parts.styles.isEmpty() && package.contains(parts.styles)
            && !loader.readStyles(parts.styles, &error))
        || !loader.readSheet(parts.sheet, parts.date1904, &result.rows, &error)) {
        result.rows.clear();
        result.error = error;
        return result;
    }
    result.ok = true;
    return result;
}
