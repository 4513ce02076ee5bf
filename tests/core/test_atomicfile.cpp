#include "core/atomicfile.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

mode_t modeOf(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return mode_t(-1);
    return info.st_mode & 07777;
}

bool writeText(const QString &path, const QByteArray &text, QString *error = nullptr,
               const AtomicFile::Check &check = {})
{
    return AtomicFile::write(
        path,
        [&text](const QString &temporaryPath, QString *writeError) {
            QFile file(temporaryPath);
            if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
                *writeError = file.errorString();
                return false;
            }
            return true;
        },
        check, error);
}

// Sets the umask for one test and puts it back.
class Umask
{
public:
    explicit Umask(mode_t mask) : m_previous(::umask(mask)) {}
    ~Umask() { ::umask(m_previous); }

private:
    mode_t m_previous;
};

} // namespace

class TestAtomicFile : public QObject
{
    Q_OBJECT

private slots:
    void modes_data();
    void modes();
    void everyNameTheFileSystemAllowsWorks_data();
    void everyNameTheFileSystemAllowsWorks();
    void failedCheckKeepsTheOldFile();
};

void TestAtomicFile::modes_data()
{
    QTest::addColumn<int>("umask");
    QTest::addColumn<int>("existingMode"); // -1: no file yet
    QTest::addColumn<bool>("copyOfSource"); // a backup: the source's mode
    QTest::addColumn<int>("expected");
    QTest::newRow("new file, umask 077") << 077 << -1 << false << 0600;
    QTest::newRow("new file, umask 022") << 022 << -1 << false << 0644;
    QTest::newRow("new file, umask 002") << 002 << -1 << false << 0664;
    QTest::newRow("replaced 0600 stays 0600") << 022 << 0600 << false << 0600;
    QTest::newRow("replaced 0640 stays 0640") << 077 << 0640 << false << 0640;
    QTest::newRow("backup of a 0600 database over a 0644 copy") << 022 << 0644 << true << 0600;
}

void TestAtomicFile::modes()
{
    QFETCH(int, umask);
    QFETCH(int, existingMode);
    QFETCH(bool, copyOfSource);
    QFETCH(int, expected);
    QTemporaryDir dir;
    const Umask mask(umask);
    const QString target = dir.filePath(QStringLiteral("目标.dat"));
    if (existingMode >= 0) {
        QVERIFY(TestSupport::writeAll(target, "old"));
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), mode_t(existingMode)), 0);
    }
    QString error;
    if (copyOfSource) {
        const QString source = dir.filePath(QStringLiteral("通讯录.dat"));
        QVERIFY(TestSupport::writeAll(source, "database"));
        QCOMPARE(::chmod(QFile::encodeName(source).constData(), 0600), 0);
        QVERIFY2(AtomicFile::copy(source, target, AtomicFile::ModeFrom::Source, &error),
                 qPrintable(error));
        QCOMPARE(TestSupport::readAll(target), QByteArray("database"));
    } else {
        QVERIFY2(writeText(target, "new", &error), qPrintable(error));
        QCOMPARE(TestSupport::readAll(target), QByteArray("new"));
    }
    QCOMPARE(int(modeOf(target)), expected);
}

void TestAtomicFile::everyNameTheFileSystemAllowsWorks_data()
{
    QTest::addColumn<int>("bytes");
    QTest::newRow("246") << 246;
    QTest::newRow("250") << 250;
    QTest::newRow("255") << 255;
}

// Both a new file and the replacement of an existing one.
void TestAtomicFile::everyNameTheFileSystemAllowsWorks()
{
    QFETCH(int, bytes);
    QTemporaryDir dir;
    // Three bytes per Chinese character in UTF-8, then ASCII to the length.
    const QString stem = QString(bytes / 3 - 2, QChar(u'名'));
    const QString name = stem + QString(bytes - stem.toUtf8().size() - 4, QLatin1Char('x'))
                         + QStringLiteral(".xcl");
    QCOMPARE(QFile::encodeName(name).size(), bytes);
    const QString target = dir.filePath(name);
    for (const QByteArray &text : {QByteArray("first"), QByteArray("second")}) {
        QString error;
        QVERIFY2(writeText(target, text, &error), qPrintable(error));
        QCOMPARE(TestSupport::readAll(target), text);
    }
    QCOMPARE(TestSupport::entriesOf(dir.path()), QStringList{name});
}

void TestAtomicFile::failedCheckKeepsTheOldFile()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("通讯录.dat"));
    QVERIFY(TestSupport::writeAll(target, "good"));
    QString checked;
    QString error;
    QVERIFY(!writeText(target, "damaged", &error,
                       [&checked](const QString &temporaryPath, QString *reason) {
                           checked = QString::fromUtf8(TestSupport::readAll(temporaryPath));
                           *reason = QStringLiteral("不合格");
                           return false;
                       }));
    QCOMPARE(checked, QStringLiteral("damaged")); // the check saw the complete new content
    QCOMPARE(error, QStringLiteral("不合格"));
    QCOMPARE(TestSupport::readAll(target), QByteArray("good"));
    QCOMPARE(TestSupport::entriesOf(dir.path()), QStringList{QStringLiteral("通讯录.dat")});
}

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "test_atomicfile.moc"
