#pragma once

#include <QString>

// The folder that holds the database file and the backup folder, decided once
// at start:
//  - chosen on the command line (--data-dir): that folder;
//  - portable: the executable's own folder, when the program runs from a
//    folder it can write that is not the installed bin folder (a build
//    folder, a copied folder, a USB stick);
//  - per-user: the per-user data folder (~/.local/share/lanzhou-sms), when the
//    executable lies in the installed bin folder or its folder is read-only.
class DataFolder
{
public:
    enum class Kind { Chosen, Portable, PerUser };

    // The decision for this process: the executable's folder and the bin
    // folder of the install prefix the program was built for.
    static DataFolder choose(const QString &chosenFolder);
    // The same rule with the folders given (tests).
    static DataFolder choose(const QString &chosenFolder, const QString &executableFolder,
                             const QString &installedBinFolder);

    // QStandardPaths::AppDataLocation: needs the application name set.
    static QString perUserFolder();

    QString path() const { return m_path; }
    Kind kind() const { return m_kind; }
    // Where the import's open dialog starts: the data folder, but the home
    // folder instead of the hidden per-user one.
    QString importStartFolder() const;

    // Creates the folder, and any missing parent, with mode 0700 (existing
    // folders are left as they are). On failure message names the folder and
    // the reason.
    bool prepare(QString *message) const;

private:
    DataFolder(const QString &path, Kind kind);

    QString m_path;
    Kind m_kind;
};
