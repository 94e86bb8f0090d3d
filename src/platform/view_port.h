// The port behind the platform's View handle: one drawable with its
// OpenGL context, of whichever backend made it. Private to src/platform/
// and to the tests that script a session of their own.
#pragma once

#include "platform/platform.h"

namespace platform {

// One drawable with its OpenGL context, of whichever backend made it.
struct View {
    virtual ~View() = default;
    virtual bool MakeCurrent() = 0;
    virtual void Show() = 0;  // map/raise; no-op where that means nothing
    virtual bool Resize(int width, int height) = 0;
    virtual void Size(int* width, int* height) = 0;
    virtual void Present() = 0;
    virtual WindowId Window() const { return 0; }  // the X window, if any
    virtual bool Lost() const { return false; }
    // A drawable of width × height that the window system stretches over
    // the view; false where it does not.
    virtual bool ScaleBuffer(int, int) { return false; }
    // Presents at most once a refresh of the display; false where not.
    virtual bool SyncToRefresh() { return false; }
    // Makes the context current on a drawable of its own instead of the
    // window while `off` holds; false where there is none.
    virtual bool DrawOffWindow(bool) { return false; }
};

}  // namespace platform
