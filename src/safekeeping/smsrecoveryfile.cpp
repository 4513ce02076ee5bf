#include "safekeeping/smsrecoveryfile.h"

#include "safekeeping/plainfile.h"
#include "core/atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace {

// Far more than any SMS text; a larger file is not one the program wrote.
constexpr qint64 LargestText = 64 << 20;

// UTF-8 as written by the program; a file saved by hand in a Chinese editor
// may be GB18030 (GBK) instead.
QString decoded(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder gb18030("GB18030");
    return gb18030.isValid() ? QString(gb18030.decode(bytes)) : QString::fromUtf8(bytes);
}

} // namespace

SmsRecoveryFile::SmsRecoveryFile(const QString &databasePath)
    : m_path(QFileInfo(databasePath).dir().filePath(FileName))
{
}

bool SmsRecoveryFile::write(const QString &text, QString *error) const
{
    // Replaces a regular file of that name (never writing through a link);
    // anything else of that name stays as it is.
    QString why;
    if (PlainFile::kindOf(m_path) == PlainFile::Kind::Other) {
        why = PlainFile::describeOther(m_path);
    } else {
        const QByteArray bytes = text.toUtf8();
        const bool written = AtomicFile::write(
            m_path,
            [&bytes](const QString &temporaryPath, QString *writeError) {
                QFile file(temporaryPath);
                if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush())
                    return true;
                *writeError = file.errorString();
                return false;
            },
            &why);
        if (written)
            return true;
    }
    if (error)
        *error = QStringLiteral("无法写入文件 %1：%2").arg(QDir::toNativeSeparators(m_path), why);
    return false;
}

SmsRecoveryFile::ReadResult SmsRecoveryFile::read(QString *text, QString *error) const
{
    QByteArray bytes;
    const PlainFile::ReadResult result = PlainFile::read(m_path, LargestText, &bytes, error);
    if (result == PlainFile::ReadResult::Read)
        *text = decoded(bytes);
    return result;
}

bool SmsRecoveryFile::remove() const
{
    return PlainFile::removeRegular(m_path);
}
