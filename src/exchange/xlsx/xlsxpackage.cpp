#include "exchange/xlsx/xlsxpackage.h"

#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

#include <minizip/unzip.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

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

// Reads a part on a thread of its own a few blocks ahead of the caller, so
// that inflating it and checking its CRC go on while the caller parses what
// came before (for a large sheet about a fifth of the work beside the XML).
// A failure of the part reaches the caller where it would have met it
// reading the part itself: after every block that came before it.
class ReadAheadDevice : public QIODevice
{
public:
    explicit ReadAheadDevice(std::unique_ptr<PartDevice> source) : m_source(std::move(source))
    {
        QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        m_reader = std::jthread([this] { readAhead(); });
    }
    ~ReadAheadDevice() override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_reader.join();
    }

    bool isSequential() const override { return true; }
    bool atEnd() const override { return m_ended && QIODevice::atEnd(); }
    // The failure the caller has met (None before it met one).
    PartDevice::Failure failure() const { return m_failureMet; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_ended)
            return m_failureMet == PartDevice::Failure::None ? 0 : -1;
        if (m_offset == m_current.size()) {
            std::unique_lock lock(m_mutex);
            if (!m_current.isEmpty())
                m_spare.push_back(std::exchange(m_current, QByteArray()));
            m_changed.wait(lock, [this] { return !m_ready.empty() || m_sourceEnded; });
            if (m_ready.empty()) {
                m_ended = true;
                m_failureMet = m_sourceFailure;
                if (m_failureMet != PartDevice::Failure::None)
                    setErrorString(QStringLiteral("part read failed"));
                return m_failureMet == PartDevice::Failure::None ? 0 : -1;
            }
            m_current = std::move(m_ready.front());
            m_ready.pop_front();
            m_offset = 0;
            lock.unlock();
            m_changed.notify_all();
        }
        const qint64 count = std::min(maxSize, qint64(m_current.size() - m_offset));
        std::memcpy(data, m_current.constData() + m_offset, size_t(count));
        m_offset += count;
        return count;
    }

    qint64 writeData(const char *, qint64) override { return -1; }

private:
    static constexpr qsizetype blockBytes = qsizetype(1) << 18;
    static constexpr size_t aheadBlocks = 4;

    void readAhead()
    {
        for (;;) {
            QByteArray block;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_ready.size() < aheadBlocks || m_stopping; });
                if (m_stopping)
                    return;
                if (!m_spare.empty()) {
                    block = std::move(m_spare.back());
                    m_spare.pop_back();
                }
            }
            block.resize(blockBytes);
            const qint64 got = m_source->read(block.data(), blockBytes);
            {
                const std::lock_guard lock(m_mutex);
                if (got <= 0) {
                    m_sourceEnded = true;
                    m_sourceFailure = got < 0 ? m_source->failure() : PartDevice::Failure::None;
                } else {
                    block.resize(got);
                    m_ready.push_back(std::move(block));
                }
            }
            m_changed.notify_all();
            if (got <= 0)
                return;
        }
    }

    std::unique_ptr<PartDevice> m_source; // the reading thread's while it runs

    // The caller's side.
    QByteArray m_current;
    qsizetype m_offset = 0;
    bool m_ended = false;
    PartDevice::Failure m_failureMet = PartDevice::Failure::None;

    std::mutex m_mutex; // guards what follows
    std::condition_variable m_changed;
    std::deque<QByteArray> m_ready;
    std::vector<QByteArray> m_spare;
    bool m_sourceEnded = false;
    PartDevice::Failure m_sourceFailure = PartDevice::Failure::None;
    bool m_stopping = false;

    std::jthread m_reader; // last: started when everything above exists
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
                             {position.pos_in_zip_directory, position.num_of_file,
                              info.uncompressed_size});
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

quint64 XlsxPackage::declaredSize(const QString &partName) const
{
    return m_entries.value(partName.toLower()).declaredSize;
}

std::unique_ptr<QIODevice> XlsxPackage::openPart(const QString &partName, qint64 maxBytes,
                                                 QString *error)
{
    return openPart(partName, maxBytes, Reading::OnDemand, error);
}

std::unique_ptr<QIODevice> XlsxPackage::openPart(const QString &partName, qint64 maxBytes,
                                                 Reading reading, QString *error)
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
    if (reading == Reading::Ahead)
        return std::make_unique<ReadAheadDevice>(std::move(device));
    return device;
}

QString XlsxPackage::partReadError(QIODevice *device, const QString &partName)
{
    PartDevice::Failure failure = PartDevice::Failure::None;
    if (const auto *part = dynamic_cast<PartDevice *>(device))
        failure = part->failure();
    else if (const auto *ahead = dynamic_cast<ReadAheadDevice *>(device))
        failure = ahead->failure();
    if (failure == PartDevice::Failure::TooLarge)
        return QStringLiteral("工作簿内容过大（%1 解压后超出上限），已停止读取").arg(partName);
    if (failure == PartDevice::Failure::Damaged)
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
