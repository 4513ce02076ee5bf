#pragma once

#include <QString>
#include <QStringList>

// The program's command-line options:
//   --data-dir DIR (or --data-dir=DIR)  keep the database in DIR
//   -h, --help                          usage, exit 0
//   -v, --version                       version, exit 0
// Qt's own options (-platform, -style, -display, ...) are left for the
// application object. Anything else is refused with exit status 2.
class CommandLine
{
public:
    enum class Action { Run, ShowHelp, ShowVersion, Refuse };

    // arguments as in argv, the program's name first.
    static CommandLine parse(const QStringList &arguments);
    static CommandLine parse(int argc, char **argv);

    Action action() const { return m_action; }
    // The folder given with --data-dir, empty when none.
    QString dataFolder() const { return m_dataFolder; }

    // For every action but Run: prints the help, the version or the error
    // (to standard output, or to standard error for a refusal) and returns the
    // exit status.
    int answer() const;

    static QString helpText();
    static QString versionText();
    QString errorText() const { return m_error; }

private:
    Action m_action = Action::Run;
    QString m_dataFolder;
    QString m_error;
};
