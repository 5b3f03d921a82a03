#pragma once

#include <QString>

// Command identifiers of the capture window's toolbar buttons and function keys.
enum CommandId : int {
    ID_RECORD = 32776,
    ID_CAPTURE = 32777,
    ID_OPEN_FOLDER = 32778,
    ID_HELP_PAGE = 32779,
    ID_REGION_SET = 32780,
    ID_PAUSE = 32781,  // pause or resume the running recording (F9, tray menu, global key)
};

constexpr int kToolbarCommands[] = {ID_RECORD, ID_CAPTURE, ID_OPEN_FOLDER, ID_HELP_PAGE,
                                    ID_REGION_SET};

// The tooltip of a toolbar command; empty for other identifiers.
QString CommandToolTip(int id);
