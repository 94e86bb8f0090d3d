// ImagePresenter: frames put into a window from the program's own pixels,
// with MIT-SHM where the X server offers it, else with XPutImage.
//
// Provides: CreateImagePresenter, DestroyImagePresenter,
// ImagePresenterPixels, PresentImage.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/view_port.h"
#include "platform/x11/x11_connection.h"

namespace platform {

struct ImagePresenter {
    ::Display* display = nullptr;
    Window window = 0;
    GC gc = nullptr;
    XImage* image = nullptr;
    XShmSegmentInfo shm{};
    bool shared = false;  // the image lives in a segment the server reads
    int width = 0;
    int height = 0;
};

namespace {

// Whether the window's pixels are 32-bit B, G, R bytes (little-endian
// 0x00RRGGBB), the layout glReadPixels gives for GL_BGRA.
bool TakesBgrx(::Display* d, Window w, Visual** visual, int* depth) {
    XWindowAttributes a{};
    if (!XGetWindowAttributes(d, w, &a) || a.visual == nullptr) return false;
    *visual = a.visual;
    *depth = a.depth;
    if (a.visual->c_class != TrueColor || (a.depth != 24 && a.depth != 32)) return false;
    if (a.visual->red_mask != 0xff0000 || a.visual->green_mask != 0xff00 ||
        a.visual->blue_mask != 0xff || ImageByteOrder(d) != LSBFirst) {
        return false;
    }
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(d, &count);
    bool ok = false;
    for (int i = 0; i < count; ++i) {
        if (formats[i].depth == a.depth) ok = formats[i].bits_per_pixel == 32;
    }
    if (formats != nullptr) XFree(formats);
    return ok;
}

// An image in a shared segment, attached to the server; null when the
// server or the system will not share one.
XImage* SharedImage(::Display* d, Visual* visual, int depth, int w, int h, XShmSegmentInfo* shm) {
    // Memory is shared only with a server on this machine; a remote one
    // would refuse the segment later, and every frame with it.
    const char* name = DisplayString(d);
    const bool local = name != nullptr && (name[0] == ':' || std::strncmp(name, "unix:", 5) == 0);
    if (!local || !XShmQueryExtension(d)) return nullptr;
    XImage* image = XShmCreateImage(d, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, shm,
                                    static_cast<unsigned>(w), static_cast<unsigned>(h));
    if (image == nullptr) return nullptr;
    shm->shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * image->height,
                        IPC_CREAT | 0600);
    if (shm->shmid < 0) {
        XDestroyImage(image);
        return nullptr;
    }
    shm->shmaddr = static_cast<char*>(shmat(shm->shmid, nullptr, 0));
    // Marked for removal at once: it goes when both sides have detached,
    // whatever ends the program.
    shmctl(shm->shmid, IPC_RMID, nullptr);
    if (shm->shmaddr == reinterpret_cast<char*>(-1)) {
        XDestroyImage(image);
        return nullptr;
    }
    image->data = shm->shmaddr;
    shm->readOnly = True;
    if (!XShmAttach(d, shm)) {
        shmdt(shm->shmaddr);
        image->data = nullptr;
        XDestroyImage(image);
        return nullptr;
    }
    XSync(d, False);
    return image;
}

}  // namespace

ImagePresenter* CreateImagePresenter(View* view, int width, int rows) {
    Connection* connection = ConnectionOfView(view);
    if (connection == nullptr || width < 1 || rows < 1) return nullptr;
    ::Display* d = connection->display;
    const Window window = view->Window();
    Visual* visual = nullptr;
    int depth = 0;
    if (!TakesBgrx(d, window, &visual, &depth)) return nullptr;

    auto* p = new ImagePresenter;
    p->display = d;
    p->window = window;
    p->width = width;
    p->height = rows;
    p->image = SharedImage(d, visual, depth, width, rows, &p->shm);
    p->shared = p->image != nullptr;
    if (p->image == nullptr) {
        void* pixels = std::calloc(static_cast<size_t>(width) * static_cast<size_t>(rows), 4);
        if (pixels != nullptr) {
            p->image = XCreateImage(d, visual, static_cast<unsigned>(depth), ZPixmap, 0,
                                    static_cast<char*>(pixels), static_cast<unsigned>(width),
                                    static_cast<unsigned>(rows), 32, width * 4);
        }
        if (p->image == nullptr) {
            std::free(pixels);
            delete p;
            return nullptr;
        }
    }
    p->gc = XCreateGC(d, window, 0, nullptr);
    return p;
}

void DestroyImagePresenter(ImagePresenter* p) {
    if (p == nullptr) return;
    if (p->shared) {
        XShmDetach(p->display, &p->shm);
        XSync(p->display, False);
        shmdt(p->shm.shmaddr);
    } else {
        std::free(p->image->data);
    }
    p->image->data = nullptr;
    XDestroyImage(p->image);
    XFreeGC(p->display, p->gc);
    delete p;
}

uint32_t* ImagePresenterPixels(ImagePresenter* p) {
    return reinterpret_cast<uint32_t*>(p->image->data);
}

void PresentImage(ImagePresenter* p, int top, int rows) {
    rows = std::min(rows, p->height);
    if (rows < 1) return;
    const auto w = static_cast<unsigned>(p->width);
    const auto h = static_cast<unsigned>(rows);
    if (p->shared) {
        XShmPutImage(p->display, p->window, p->gc, p->image, 0, 0, 0, top, w, h, False);
    } else {
        XPutImage(p->display, p->window, p->gc, p->image, 0, 0, 0, top, w, h);
    }
    // The next band writes into the same pixels.
    XSync(p->display, False);
}

}  // namespace platform
