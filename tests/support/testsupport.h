#pragma once

#include "core/contact.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/resource.h>

class QWidget;

// Small helpers shared by the test suites.
namespace TestSupport {

// Folder of the committed test data (workbooks and the like).
QString dataPath(const QString &name);

QByteArray readAll(const QString &path);
bool writeAll(const QString &path, const QByteArray &bytes);

// Every entry of a folder, hidden ones included (temporary files left behind show up).
QStringList entriesOf(const QString &folder);

// A contact with the given texts (ticked unless said otherwise).
Contact makeContact(const QString &mobile, const QString &name, const QString &salutation = {},
                    const QString &remark = {}, bool ticked = true);

// Types text key by key, Chinese included (QTest::keyClicks takes ASCII only).
void typeText(QWidget *widget, const QString &text);

// Lowers the largest file this process may write, so that writes fail as on
// a full disk; restores the old limit when it goes out of scope.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool ok() const { return m_ok; }

private:
    rlimit m_old{};
    bool m_ok = false;
};

// Running as root, the calling thread gives up the right to ignore file modes
// until this goes out of scope, so read-only files and folders are read-only
// for root too. Changes nothing for other users.
class FileModesBindRoot
{
public:
    FileModesBindRoot();
    ~FileModesBindRoot();
    FileModesBindRoot(const FileModesBindRoot &) = delete;
    FileModesBindRoot &operator=(const FileModesBindRoot &) = delete;

private:
    quint32 m_savedEffective = 0;
    bool m_capabilitiesLowered = false;
};

// Makes a folder read-only (mode 0555) until it goes out of scope, for root
// too (see FileModesBindRoot).
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString &folder);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder &) = delete;
    ReadOnlyFolder &operator=(const ReadOnlyFolder &) = delete;
    // A file really cannot be made in the folder now.
    bool ok() const;

private:
    QString m_folder;
    FileModesBindRoot m_modesBind;
};

} // namespace TestSupport
