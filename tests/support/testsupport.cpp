#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace TestSupport {

QString dataPath(const QString &name)
{
    return QStringLiteral(LANZHOU_TEST_DATA "/") + name;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

Contact makeContact(const QString &mobile, const QString &name, const QString &salutation,
                    const QString &remark, bool ticked)
{
    return Contact(mobile, name, salutation, remark, 0, ticked);
}

void typeText(QWidget *widget, const QString &text)
{
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &m_old);
    rlimit limit = m_old;
    limit.rlim_cur = bytes;
    m_ok = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &m_old);
}

namespace {

constexpr quint32 FileModeOverrides =
    (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);

// Capabilities are per thread: these act on the calling one.
bool effectiveCapabilities(quint32 *effective)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    *effective = data[0].effective;
    return true;
}

bool setEffectiveCapabilities(quint32 effective)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[0].effective = effective;
    return ::syscall(SYS_capset, &header, data) == 0;
}

} // namespace

FileModesBindRoot::FileModesBindRoot()
{
    if (effectiveCapabilities(&m_savedEffective) && (m_savedEffective & FileModeOverrides))
        m_capabilitiesLowered = setEffectiveCapabilities(m_savedEffective & ~FileModeOverrides);
}

FileModesBindRoot::~FileModesBindRoot()
{
    if (m_capabilitiesLowered)
        setEffectiveCapabilities(m_savedEffective);
}

ReadOnlyFolder::ReadOnlyFolder(const QString &folder)
    : m_folder(folder)
{
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup
                                      | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool ReadOnlyFolder::ok() const
{
    QFile probe(QDir(m_folder).filePath(QStringLiteral(".probe")));
    if (probe.open(QIODevice::WriteOnly)) {
        probe.remove();
        return false;
    }
    return true;
}

} // namespace TestSupport
