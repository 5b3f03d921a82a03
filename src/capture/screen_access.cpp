#include "capture/screen_access.h"

#include <opencv2/imgproc.hpp>

#include "imaging/sv_image.h"

bool GrabStill(CScreenAccess& access, const CSvRect& rect, CSvImage* image, std::string* error) {
    cv::Mat bgrx;
    if (!access.GrabBgrx(rect, bgrx, error)) {
        return false;
    }
    image->Create(rect.Width(), rect.Height(), 3);
    if (!image->HasImage()) {
        *error = image->GetLastError();
        return false;
    }
    cv::cvtColor(bgrx, *image->m_pImage, cv::COLOR_BGRA2BGR);
    return true;
}
