#pragma once

#include <functional>
#include <string>

#include <opencv2/core.hpp>

#include "imaging/sv_rect.h"
#include "recording/frame_source.h"

// The screen's pictures where the X server cannot give them (a Wayland desktop): the desktop
// must first agree to share the screen, which may take the user a while.
class CScreenAccess {
public:
    virtual ~CScreenAccess() = default;

    // Gets the screen shared (with the mouse pointer drawn in or not), then calls done on the
    // user-interface thread with an empty text, or with the reason it failed. May call done
    // before returning when the screen is shared already.
    virtual void Prepare(bool pointer, std::function<void(const std::string& error)> done) = 0;
    // After a successful Prepare: the source for recordings, and one still picture of a
    // screen rectangle (CV_8UC4, blue, green, red, unused).
    virtual CFrameSource& Frames() = 0;
    virtual bool GrabBgrx(const CSvRect& rect, cv::Mat& bgrx, std::string* error) = 0;
};

class CSvImage;

// A still of rect as access shows it, as a 3-channel blue-green-red image. False, with the
// reason, when there is none.
bool GrabStill(CScreenAccess& access, const CSvRect& rect, CSvImage* image, std::string* error);

// The frame source a recording uses, chosen before it starts: the X screen's, or the shared
// screen's on a Wayland desktop. Every call goes to the chosen one.
class CChosenFrameSource : public CFrameSource {
public:
    explicit CChosenFrameSource(CFrameSource& source) : m_pSource(&source) {}
    void Choose(CFrameSource& source) { m_pSource = &source; }

    bool Open(std::string* error) override { return m_pSource->Open(error); }
    void Close() override { m_pSource->Close(); }
    CSvRect Locate(const CCaptureTarget& target, const CSvRect& previous) override {
        return m_pSource->Locate(target, previous);
    }
    Change TakeChange(const CSvRect& region) override { return m_pSource->TakeChange(region); }
    bool Grab(const CSvRect& region, CBgrxPicture* picture, std::string* error) override {
        return m_pSource->Grab(region, picture, error);
    }

private:
    CFrameSource* m_pSource;
};
