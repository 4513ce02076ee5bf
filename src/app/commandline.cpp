#include "app/commandline.h"

#include "app/datafolder.h"
#include "app/programidentity.h"

#include <QDir>

#include <cstdio>

namespace {

// Options QApplication understands itself (with one dash or two); those with
// a value take the next argument along.
bool isQtOption(const QString &argument, bool *takesValue)
{
    static const QStringList withValue = {
        QStringLiteral("platform"), QStringLiteral("platformpluginpath"),
        QStringLiteral("platformtheme"), QStringLiteral("plugin"), QStringLiteral("style"),
        QStringLiteral("stylesheet"), QStringLiteral("display"), QStringLiteral("geometry"),
        QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowtitle"),
        QStringLiteral("qwindowicon"), QStringLiteral("name"), QStringLiteral("title"),
        QStringLiteral("session")};
    static const QStringList flags = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                      QStringLiteral("nograb"), QStringLiteral("dograb"),
                                      QStringLiteral("sync")};
    if (!argument.startsWith(u'-'))
        return false;
    const QString name = argument.mid(argument.startsWith(QStringLiteral("--")) ? 2 : 1);
    *takesValue = withValue.contains(name);
    return *takesValue || flags.contains(name);
}

QString programName()
{
    return QString::fromLatin1(ProgramIdentity::Name);
}

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine result;
    const auto refuse = [&result](const QString &error) {
        result.m_action = Action::Refuse;
        result.m_error = error;
        return result;
    };
    const QString dataDirOption = QStringLiteral("--data-dir");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        bool qtValue = false;
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            result.m_action = Action::ShowHelp;
            return result;
        }
        if (argument == QLatin1String("-v") || argument == QLatin1String("--version")) {
            result.m_action = Action::ShowVersion;
            return result;
        }
        if (argument == dataDirOption || argument.startsWith(dataDirOption + u'=')) {
            const bool joined = argument != dataDirOption;
            if (!joined && i + 1 >= arguments.size())
                return refuse(QStringLiteral("选项 --data-dir 后面缺少文件夹。"));
            const QString folder = joined ? argument.mid(dataDirOption.size() + 1) : arguments.at(++i);
            if (folder.isEmpty())
                return refuse(QStringLiteral("选项 --data-dir 后面缺少文件夹。"));
            result.m_dataFolder = folder;
        } else if (isQtOption(argument, &qtValue)) {
            if (qtValue)
                ++i;
        } else if (argument.startsWith(u'-')) {
            return refuse(QStringLiteral("无法识别的选项“%1”。").arg(argument));
        } else {
            return refuse(QStringLiteral("多余的参数“%1”：本程序不打开文件。").arg(argument));
        }
    }
    return result;
}

CommandLine CommandLine::parse(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return parse(arguments);
}

int CommandLine::answer() const
{
    switch (m_action) {
    case Action::ShowHelp:
        std::fputs(helpText().toUtf8().constData(), stdout);
        return 0;
    case Action::ShowVersion:
        std::fputs(versionText().toUtf8().constData(), stdout);
        return 0;
    case Action::Refuse:
        std::fputs(QStringLiteral("%1：%2\n请用“%1 --help”查看可用的选项。\n")
                       .arg(programName(), m_error)
                       .toUtf8()
                       .constData(),
                   stderr);
        return 2;
    case Action::Run:
        break;
    }
    return 0;
}

QString CommandLine::helpText()
{
    return QStringLiteral(
               "用法：%1 [选项]\n"
               "%2：联系人分组管理、批量短信和电话回访的通讯录。\n"
               "\n"
               "选项：\n"
               "  --data-dir <文件夹>  把通讯录数据库（通讯录.dat）和数据备份放在这个文件夹，\n"
               "                       文件夹不存在时新建\n"
               "  -h, --help           显示本帮助后退出\n"
               "  -v, --version        显示版本后退出\n"
               "\n"
               "不带 --data-dir 时的数据文件夹：\n"
               "  程序从可以写入的文件夹运行（便携使用）时，数据放在程序所在的文件夹；\n"
               "  程序已安装（位于 %3）或所在的文件夹不能写入时，数据放在 %4。\n")
        .arg(programName(), QString::fromUtf8(ProgramIdentity::Caption),
             QStringLiteral(LANZHOU_INSTALL_BINDIR),
             QDir::toNativeSeparators(DataFolder::perUserFolder()));
}

QString CommandLine::versionText()
{
    return QStringLiteral("%1 %2\n%3\n")
        .arg(programName(), ProgramIdentity::version(),
             QString::fromUtf8(ProgramIdentity::Caption));
}
