#include "desktop/webpages.h"

#include <QDesktopServices>

namespace WebPages {

namespace {
bool g_recordOnly = false;
QList<QUrl> g_opened;
} // namespace

QUrl helpPage()
{
    return QUrl(QStringLiteral("http://%1%2").arg(QLatin1String(Host), QLatin1String(HelpPath)));
}

QUrl homePage()
{
    return QUrl(QStringLiteral("http://%1/").arg(QLatin1String(Host)));
}

void open(const QUrl &url)
{
    g_opened.append(url);
    if (!g_recordOnly)
        QDesktopServices::openUrl(url);
}

void setRecordOnly(bool recordOnly)
{
    g_recordOnly = recordOnly;
    g_opened.clear();
}

QList<QUrl> openedUrls()
{
    return g_opened;
}

} // namespace WebPages
