#include "capture/caption_text.h"

#include <QTextBoundaryFinder>

QString CoordinatesText(const CaptureRect& regionOnScreen) {
    return QStringLiteral("[%1,%2] %3x%4")
        .arg(regionOnScreen.left)
        .arg(regionOnScreen.top)
        .arg(regionOnScreen.Width())
        .arg(regionOnScreen.Height());
}

QString CaptionText(bool statusFresh, const QString& status) {
    if (!statusFresh) {
        return QStringLiteral(" Brintel Shot");
    }
    return QStringLiteral(" Brintel Shot - ") + status;
}

QString FitCaptionText(const QString& text, int maxWidth, const TextWidthFunction& width) {
    if (width(text) <= maxWidth) {
        return text;
    }
    const QString ellipsis = QStringLiteral("...");
    QString prefix;
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (width(prefix + ellipsis) < maxWidth) {
        const qsizetype end = characters.toNextBoundary();
        if (end < 0) {
            break;  // every character fits after all (measuring is not strictly additive)
        }
        prefix += text.mid(start, end - start);
        start = end;
    }
    return prefix + ellipsis;
}
