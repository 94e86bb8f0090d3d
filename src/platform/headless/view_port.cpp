// The View functions of platform.h, each handing the call to the view's
// port, and the one read-back of a view's pixels (OpenGL only).
#include "platform/view_port.h"

#include <GL/gl.h>

namespace platform {

void DestroyView(View* view) { delete view; }

bool MakeViewCurrent(View* view) { return view->MakeCurrent(); }

void ShowView(View* view) { view->Show(); }

bool ResizeView(View* view, int width, int height) { return view->Resize(width, height); }

void ViewSize(View* view, int* width, int* height) { view->Size(width, height); }

void PresentView(View* view) { view->Present(); }

bool ViewLost(const View* view) { return view->Lost(); }

bool ScaleViewBuffer(View* view, int width, int height) { return view->ScaleBuffer(width, height); }

bool SyncViewToRefresh(View* view) { return view->SyncToRefresh(); }

bool DrawViewOffWindow(View* view, bool off) { return view->DrawOffWindow(off); }

bool ReadViewPixels(View* view, RgbaImage* image) {
    int w = 0, h = 0;
    view->Size(&w, &h);
    if (w <= 0 || h <= 0) return false;
    image->width = w;
    image->height = h;
    image->pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
    glFinish();
    GLint alignment = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, image->pixels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, alignment);
    return glGetError() == GL_NO_ERROR;
}

}  // namespace platform
