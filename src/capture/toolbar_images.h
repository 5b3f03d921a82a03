#pragma once

#include <QIcon>

// The toolbar's 96 x 15 image strip holds six 16 x 15 images: record, screen capture, open
// folder, help, region setting, and the record button's image while recording.
enum ToolbarImage {
    kRecordImage = 0,
    kCaptureImage,
    kOpenFolderImage,
    kHelpImage,
    kRegionImage,
    kRecordingImage,
    kToolbarImageCount
};

constexpr int kToolbarImageWidth = 16;
constexpr int kToolbarImageHeight = 15;

// One image of the strip, its light grey background made transparent. A null icon when the
// strip cannot be loaded or the index is out of range.
QIcon ToolbarIcon(int index);
