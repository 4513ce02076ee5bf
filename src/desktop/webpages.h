#pragma once

#include <QString>
#include <QUrl>

// The product's web addresses and the maker's details, kept in one place.
namespace WebPages {

inline constexpr const char *Host = "www.example.com";
inline constexpr const char *HelpPath = "/03/tarvel/help.htm";
inline constexpr const char *MakerName = "示例工作室";
inline constexpr const char *MakerEmail = "service@example.com";
inline constexpr const char *MakerQq = "10000";

QUrl helpPage();
QUrl homePage();

// Hands the address to the desktop's browser; a failure shows nothing.
void open(const QUrl &url);

// Test seam: record the addresses instead of opening them.
void setRecordOnly(bool recordOnly);
QList<QUrl> openedUrls();

} // namespace WebPages
