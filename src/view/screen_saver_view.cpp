// ScreenSaverView: the base class's bookkeeping of frame, preview flag and
// running flag. Relies on nothing but the platform seam it is given.
#include "view/screen_saver_view.h"

#include <cmath>

ScreenSaverView::ScreenSaverView(ViewPlatform* services) : platform(services) {}

bool ScreenSaverView::InitWithFrame(NSRect frame, bool isPreview) {
    if (!std::isfinite(frame.width) || !std::isfinite(frame.height) || frame.width < 1.0f ||
        frame.height < 1.0f || platform == nullptr) {
        return false;
    }
    frame_ = frame;
    preview_ = isPreview;
    animating_ = false;
    return true;
}

void ScreenSaverView::SetFrameSize(float width, float height) {
    if (!std::isfinite(width) || !std::isfinite(height)) return;
    // A drawable is at least one pixel in each direction; a zero height
    // would make the aspect ratio infinite.
    frame_.width = width < 1.0f ? 1.0f : width;
    frame_.height = height < 1.0f ? 1.0f : height;
}

void ScreenSaverView::StartAnimation() { animating_ = true; }

void ScreenSaverView::StopAnimation() { animating_ = false; }

void ScreenSaverView::Dealloc() {
    animating_ = false;
    hasSubview_ = false;
}
