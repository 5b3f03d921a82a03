#pragma once

#include <QString>

#include <functional>

#include "capture/capture_rect.h"

// The region's place and size as the caption band shows it: "[left,top] WxH".
QString CoordinatesText(const CaptureRect& regionOnScreen);

// " Brintel Shot", or " Brintel Shot - <status>" while a status text is fresh.
QString CaptionText(bool statusFresh, const QString& status);

using TextWidthFunction = std::function<int(const QString&)>;

// Shortens text that is wider than maxWidth to its first characters followed by "...":
// characters are added one at a time until the shortened text reaches maxWidth, so the
// character that made it reach the width is kept (the drawing clips the rest). Characters
// are whole user-perceived characters, never parts of one.
QString FitCaptionText(const QString& text, int maxWidth, const TextWidthFunction& width);
