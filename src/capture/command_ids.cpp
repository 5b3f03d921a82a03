#include "capture/command_ids.h"

QString CommandToolTip(int id) {
    switch (id) {
        case ID_RECORD:
            return QStringLiteral("녹화(F3)");
        case ID_CAPTURE:
            return QStringLiteral("화면캡쳐(F4)");
        case ID_OPEN_FOLDER:
            return QStringLiteral("폴더열기(F5)");
        case ID_HELP_PAGE:
            return QStringLiteral("도움말(F1)");
        case ID_REGION_SET:
            return QStringLiteral("영역설정");
        default:
            return QString();
    }
}
