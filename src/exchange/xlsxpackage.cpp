#include "xlsxpackage.h"

#include <QDir>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

namespace {

// Reads one zip entry, stops with an error once more than the allowed number
// of bytes came out, and checks the entry's CRC at its end.
class PartDevice : public QIODevice
{
public:
    enum class Failure { None, TooLarge, Damaged };

    PartDevice(QuaZip *zip, qint64 maxBytes) : m_file(zip), m_maxBytes(maxBytes) {}

    bool openEntry()
    {
        if (!m_file.open(QIODevice::ReadOnly))
            return false;
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
        if (m_finished)
            return 0;
        const qint64 n = m_file.read(data, maxSize);
        if (n < 0)
            return fail(Failure::Damaged);
        if (n == 0) {
            m_finished = true;
            m_file.close(); // verifies the CRC
            if (m_file.getZipError() != UNZ_OK)
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
        m_failure = failure;
        m_finished = true;
        setErrorString(QStringLiteral("part read failed"));
        return -1;
    }

    QuaZipFile m_file;
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
XlsxPackage::~XlsxPackage() = default;

bool XlsxPackage::open(const QString &path, QString *error)
{
    m_zip = std::make_unique<QuaZip>(path);
    if (!m_zip->open(QuaZip::mdUnzip)) {
        *error = damagedArchive();
        return false;
    }
    m_namesFolded.clear();
    const QStringList names = m_zip->getFileNameList();
    if (m_zip->getZipError() != UNZ_OK) {
        *error = damagedArchive();
        return false;
    }
    for (const QString &name : names)
        m_namesFolded.insert(name.toLower(), name);
    return true;
}

QString XlsxPackage::actualName(const QString &partName) const
{
    // Part names are case-insensitive in the package format.
    return m_namesFolded.value(partName.toLower());
}

bool XlsxPackage::contains(const QString &partName) const
{
    return !actualName(partName).isEmpty();
}

std::unique_ptr<QIODevice> XlsxPackage::openPart(const QString &partName, qint64 maxBytes,
                                                 QString *error)
{
    const QString name = actualName(partName);
    if (name.isEmpty() || !m_zip->setCurrentFile(name)) {
        *error = QStringLiteral("工作簿内容不完整（缺少 %1）").arg(partName);
        return nullptr;
    }
    QuaZipFileInfo64 info;
    if (m_zip->getCurrentFileInfo(&info)) {
        if (info.isEncrypted()) {
            *error = QStringLiteral("工作簿已加密（设置了密码），无法读取");
            return nullptr;
        }
        if (qint64(info.uncompressedSize) > maxBytes) {
            *error = QStringLiteral("工作簿内容过大（%1 解压后超过 %2 MB），已停止读取")
                         .arg(partName)
                         .arg(maxBytes >> 20);
            return nullptr;
        }
    }
    auto device = std::make_unique<PartDevice>(m_zip.get(), maxBytes);
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
