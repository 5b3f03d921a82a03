#pragma once

#include <QIcon>

// The application icon (all sizes), for windows, the about box and the tray.
QIcon AppIcon();

// The identifiers of the notification-area icon and of its menu.
constexpr unsigned int kTrayIconId = 144;

// Commands of the program's shell.
constexpr int kCmdShowShotDlg = 1025;
constexpr int kCmdAppExit = 32792;

// The notification-area tip.
constexpr const char* kTrayTip = "Brintel's Shot";
