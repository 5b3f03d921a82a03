#include "capture/toolbar_images.h"

#include <QBitmap>
#include <QPixmap>

namespace {
const QColor kStripBackground(192, 192, 192);

const QPixmap& Strip() {
    static const QPixmap strip(QStringLiteral(":/capture/toolbar_strip.xpm"));
    return strip;
}
}  // namespace

QIcon ToolbarIcon(int index) {
    const QPixmap& strip = Strip();
    if (index < 0 || index >= kToolbarImageCount ||
        strip.width() < kToolbarImageWidth * kToolbarImageCount) {
        return QIcon();
    }
    QPixmap image =
        strip.copy(index * kToolbarImageWidth, 0, kToolbarImageWidth, kToolbarImageHeight);
    image.setMask(image.createMaskFromColor(kStripBackground, Qt::MaskInColor));
    return QIcon(image);
}
