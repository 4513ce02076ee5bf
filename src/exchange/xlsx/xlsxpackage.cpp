#include "exchange/xlsx/xlsxpackage.h"

#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

#include <minizip/unzip.h>

namespace {

// Reads the current entry of an open archive, stops with an error once more
// than the allowed number of bytes came out, and checks the entry's CRC at
// its end.
class PartDevice : public QIODevice
{
public:
    enum class Failure { None, TooLarge, Damaged };

    PartDevice(unzFile zip, qint64 maxBytes) : m_zip(zip), m_maxBytes(maxBytes) {}
    ~PartDevice() override
    {
        if (!m_finished)
            unzCloseCurrentFile(m_zip);
    }

    bool openEntry()
    {
        if (unzOpenCurrentFile(m_zip) != UNZ_OK) {
            m_finished = true;
            return false;
        }
        return QIODevice::open(QIODevice::ReadOnly);
    }

    bool isSequential() const override { return true; }
    bool atEnd() const override { return m_finished && QIODevice::atEnd(); }
    Failure failure() const { return m_failure; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_failure != Failure::None)
            return -1;
        if (m_finished || maxSize <= 0) // QIODevice may ask for nothing
            return 0;
        const int n = unzReadCurrentFile(m_zip, data, unsigned(std::min<qint64>(maxSize, 1 << 20)));
        if (n < 0)
            return fail(Failure::Damaged);
        if (n == 0) {
            m_finished = true;
            if (unzCloseCurrentFile(m_zip) != UNZ_OK) // UNZ_CRCERROR among others
                return fail(Failure::Damaged);
            return 0;
        }
        m_total += n;
        if (m_total > m_maxBytes)
            return fail(Failure::TooLarge);
        return n;
    }

    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 fail(Failure failure)
    {
        if (!m_finished)
            unzCloseCurrentFile(m_zip);
        m_failure = failure;
        m_finished = true;
        setErrorString(QStringLiteral("part read failed"));
        return -1;
    }

    unzFile m_zip;
    qint64 m_maxBytes;
    qint64 m_total = 0;
    bool m_finished = false;
    Failure m_failure = Failure::None;
};

QString damagedArchive()
{
    return QStringLiteral("文件已损坏或不完整，无法作为 .xlsx 工作簿读取");
}

} // namespace

XlsxPackage::XlsxPackage() = default;

XlsxPackage::~XlsxPackage()
{
    close();
}

void XlsxPackage::close()
{
    if (m_zip)
        unzClose(m_zip);
    m_zip = nullptr;
    m_entries.clear();
}

bool XlsxPackage::open(const QString &path, QString *error)
{
    close();
    m_zip = unzOpen64(QFile::encodeName(path).constData());
    if (!m_zip) {
        *error = damagedArchive();
        return false;
    }
    // Part names are case-insensitive in the package format.
    int status = unzGoToFirstFile(m_zip);
    while (status == UNZ_OK) {
        char name[1024];
        unz_file_info64 info;
        unz64_file_pos position;
        if (unzGetCurrentFileInfo64(m_zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK
            || unzGetFilePos64(m_zip, &position) != UNZ_OK)
            break;
        if (info.size_filename < sizeof name)
            m_entries.insert(QString::fromUtf8(name).toLower(),
                             {position.pos_in_zip_directory, position.num_of_file});
        status = unzGoToNextFile(m_zip);
    }
    if (status != UNZ_END_OF_LIST_OF_FILE) {
        close();
        *error = damagedArchive();
        return false;
    }
    return true;
}

bool XlsxPackage::contains(const QString &partName) const
{
    return m_entries.contains(partName.toLower());
}

qint64 XlsxPackage::partSize(const QString &partName)
{
    const auto entry = m_entries.constFind(partName.toLower());
    if (entry == m_entries.constEnd())
        return 0;
    const unz64_file_pos position{entry->directoryOffset, entry->fileNumber};
    unz_file_info64 info;
    if (unzGoToFilePos64(m_zip, &position) != UNZ_OK
        || unzGetCurrentFileInfo64(m_zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return 0;
    return qint64(std::min<quint64>(info.uncompressed_size, quint64(INT64_MAX)));
}

std::unique_ptr<QIODevice> XlsxPackage::openPart(const QString &partName, qint64 maxBytes,
                                                 QString *error)
{
    const auto entry = m_entries.constFind(partName.toLower());
    const unz64_file_pos position{entry == m_entries.constEnd() ? 0 : entry->directoryOffset,
                                  entry == m_entries.constEnd() ? 0 : entry->fileNumber};
    unz_file_info64 info;
    if (entry == m_entries.constEnd() || unzGoToFilePos64(m_zip, &position) != UNZ_OK
        || unzGetCurrentFileInfo64(m_zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        *error = QStringLiteral("工作簿内容不完整（缺少 %1）").arg(partName);
        return nullptr;
    }
    if (info.flag & 1) {
        *error = QStringLiteral("工作簿已加密（设置了密码），无法读取");
        return nullptr;
    }
    // The declared size is checked here; the device checks what really comes out.
    if (info.uncompressed_size > quint64(maxBytes)) {
        *error = QStringLiteral("工作簿内容过大（%1 解压后超过 %2 MB），已停止读取")
                     .arg(partName)
                     .arg(maxBytes >> 20);
        return nullptr;
    }
    auto device = std::make_unique<PartDevice>(m_zip, maxBytes);
    if (!device->openEntry()) {
        *error = damagedArchive();
        return nullptr;
    }
    return device;
}

QString XlsxPackage::partReadError(QIODevice *device, const QString &partName)
{
    const auto *part = dynamic_cast<PartDevice *>(device);
    if (part && part->failure() == PartDevice::Failure::TooLarge)
        return QStringLiteral("工作簿内容过大（%1 解压后超出上限），已停止读取").arg(partName);
    if (part && part->failure() == PartDevice::Failure::Damaged)
        return damagedArchive();
    return QStringLiteral("工作簿内容已损坏（%1 不是有效的 XML）").arg(partName);
}

QString XlsxPackage::resolveTarget(const QString &sourcePart, const QString &target)
{
    QString resolved;
    if (target.startsWith(u'/')) {
        resolved = target.mid(1);
    } else {
        const qsizetype slash = sourcePart.lastIndexOf(u'/');
        resolved = slash < 0 ? target : sourcePart.left(slash + 1) + target;
    }
    resolved = QDir::cleanPath(resolved);
    while (resolved.startsWith(u'/'))
        resolved.remove(0, 1);
    return resolved;
}

bool XlsxPackage::readRelationships(const QString &partName, Relationships *relationships,
                                    QString *error)
{
    relationships->clear();
    QString relsName;
    if (partName.isEmpty()) {
        relsName = QStringLiteral("_rels/.rels");
    } else {
        const qsizetype slash = partName.lastIndexOf(u'/');
        relsName = partName.left(slash + 1) + QStringLiteral("_rels/") + partName.mid(slash + 1)
                   + QStringLiteral(".rels");
    }
    if (!contains(relsName))
        return true;

    constexpr qint64 maxRelsBytes = 16 << 20;
    std::unique_ptr<QIODevice> device = openPart(relsName, maxRelsBytes, error);
    if (!device)
        return false;
    QXmlStreamReader xml(device.get());
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement
            || xml.name() != QLatin1StringView("Relationship"))
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        if (attributes.value(QLatin1StringView("TargetMode")) == QLatin1StringView("External"))
            continue;
        relationships->insert(
            attributes.value(QLatin1StringView("Id")).toString(),
            {attributes.value(QLatin1StringView("Type")).toString(),
             resolveTarget(partName, attributes.value(QLatin1StringView("Target")).toString())});
    }
    if (xml.hasError()) {
        *error = partReadError(device.get(), relsName);
        return false;
    }
    return true;
}
