#pragma once

#include <QString>

// How the program names itself to the system: the executable, the per-user
// data folder (~/.local/share/lanzhou-sms), the desktop entry and the window
// class all use one name, so the menu entry and the window belong together.
namespace ProgramIdentity {

inline constexpr const char *Name = "lanzhou-sms";
// The desktop entry's name without ".desktop", also the AppStream id.
inline constexpr const char *DesktopId = "com.example.lanzhou_sms";
inline constexpr const char *Caption = "蓝舟批量短信电话回访软件 V2.0";

QString version();

// Sets the application and desktop-file names. Call first: the per-user data
// folder is looked up from them before the application object exists.
void apply();

} // namespace ProgramIdentity
