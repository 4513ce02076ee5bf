#include "app/programidentity.h"

#include <QGuiApplication>

namespace ProgramIdentity {

QString version()
{
    return QStringLiteral(LANZHOU_VERSION);
}

void apply()
{
    QCoreApplication::setApplicationName(QString::fromLatin1(Name));
    QCoreApplication::setApplicationVersion(version());
    QGuiApplication::setDesktopFileName(QString::fromLatin1(DesktopId));
}

} // namespace ProgramIdentity
