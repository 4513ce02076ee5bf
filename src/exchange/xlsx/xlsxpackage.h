#pragma once

#include <QHash>
#include <QIODevice>
#include <QString>

#include <memory>

// The zip container of an .xlsx workbook: finds parts by name, follows the
// relationship files and hands out one part at a time as a stream whose
// uncompressed size is capped (a small zip may inflate to gigabytes).
class XlsxPackage
{
public:
    struct Relationship
    {
        QString type;   // full type URI
        QString target; // part name inside the package, without leading '/'
    };
    using Relationships = QHash<QString, Relationship>; // by Id

    XlsxPackage();
    ~XlsxPackage();
    XlsxPackage(const XlsxPackage &) = delete;
    XlsxPackage &operator=(const XlsxPackage &) = delete;

    // Fails for anything that is not a readable zip archive.
    bool open(const QString &path, QString *error);

    bool contains(const QString &partName) const;
    // The uncompressed size the archive declares for a part (0 when absent);
    // not checked until the part is read.
    quint64 declaredSize(const QString &partName) const;

    // How a part is read: as the caller asks, or ahead of it on a thread of
    // its own (for a large part whose parsing can overlap the inflating).
    enum class Reading { OnDemand, Ahead };

    // Opens a part for reading; only one part can be open at a time. The
    // device fails (read error) once more than maxBytes come out of it.
    std::unique_ptr<QIODevice> openPart(const QString &partName, qint64 maxBytes, QString *error);
    std::unique_ptr<QIODevice> openPart(const QString &partName, qint64 maxBytes, Reading reading,
                                        QString *error);

    // The relationships of a part (empty when it has none). partName "" gives
    // the package's own relationships (_rels/.rels).
    bool readRelationships(const QString &partName, Relationships *relationships, QString *error);

    // A relationship target resolved against the folder of the part that
    // holds the relationship.
    static QString resolveTarget(const QString &sourcePart, const QString &target);

    // The reason to show when a part device stopped with an error.
    static QString partReadError(QIODevice *device, const QString &partName);

private:
    struct EntryPosition
    {
        quint64 directoryOffset = 0;
        quint64 fileNumber = 0;
        quint64 declaredSize = 0;
    };

    void close();

    void *m_zip = nullptr; // minizip's unzFile
    QHash<QString, EntryPosition> m_entries; // by lower-case name
};
