#include "capture/help_page.h"

#include <QCoreApplication>
#include <QFileInfo>

QString HelpPagePath() {
    const QString candidates[] = {
        QCoreApplication::applicationDirPath() +
            QStringLiteral("/../share/brintelshot/help/index.html"),
        QStringLiteral(BRINTEL_HELP_SOURCE_PAGE),
    };
    for (const QString& candidate : candidates) {
        QFileInfo info(candidate);
        if (info.isFile()) {
            return info.canonicalFilePath();
        }
    }
    return QString();
}
