// The X11 session: the display's monitors, GLX views on windows of the
// program's own, the root or another program's window, their events in the
// session's terms, the display's power, and the desktop's picture from a
// daemon's screenshot or the root window. Relies on the connection, the
// window view, the events, the display power and the desktop reads of this
// folder, and on the clock.
//
// Provides: OpenX11Session.
#include "platform/session.h"
#include "platform/view_port.h"
#include "platform/x11/x11_connection.h"
#include "support/translation.h"

namespace platform {

namespace {

class X11Session final : public Session {
public:
    explicit X11Session(Connection* connection) : connection_(connection) { events_.reserve(64); }
    ~X11Session() override { CloseConnection(connection_); }

    int Fd() const override { return ConnectionFd(connection_); }

    bool Dispatch(std::vector<SessionEvent>* events, std::string*) override {
        events_.clear();
        DrainEvents(connection_, &events_);
        // Reading the power is a round trip: what came meanwhile (the alarm
        // it set, too) waits in Xlib's queue, where no wait on the socket
        // would see it.
        const bool wasDark = connection_->power.dark;
        do {
            FollowDisplayPower(connection_, ClockSeconds());
            DrainEvents(connection_, &events_);
        } while (connection_->power.due);
        if (connection_->power.dark != wasDark) {
            events->push_back({.kind = SessionEventKind::PowerChanged});
        }
        for (const Event& e : events_) {
            SessionEvent s;
            if (Translate(e, &s)) events->push_back(s);
        }
        for (View* v : connection_->views) {
            if (v->Lost()) events->push_back({.kind = SessionEventKind::Closed, .view = v});
        }
        return true;
    }

    bool Flush(std::string*) override {
        FlushConnection(connection_);
        return true;
    }

    std::vector<Output> Outputs() override {
        std::vector<Output> out;
        for (const ScreenInfo& s : ListScreens(connection_)) {
            Output o;
            o.screen = s;
            out.push_back(o);
        }
        return out;
    }

    std::string DpiResource() override { return platform::DpiResource(connection_); }

    View* CreateView(const ViewRequest& request, std::string* error) override {
        if (request.kind == ViewKind::Offscreen) {
            *error = "an X display draws in windows, not offscreen";  // never asked
            return nullptr;
        }
        return CreateWindowView(connection_, request, error);
    }

    ScreenInfo ScreenOfView(View* view) override {
        const std::vector<ScreenInfo> screens = ListScreens(connection_);
        int x = 0, y = 0, w = 0, h = 0;
        if (!WindowRectangle(connection_, view->Window(), &x, &y, &w, &h)) {
            return MainScreen(screens);
        }
        return ScreenOfRectangle(screens, x, y, w, h);
    }

    bool ViewReady(const View*) const override { return true; }
    // DPMS powers every monitor of the display alike.
    bool OutputDark(int) const override { return connection_->power.dark; }

    DesktopRead ReadDesktop(const ViewRequest& request, RgbaImage* image,
                            std::string* missing) override {
        // Only a daemon's window (or the root a daemon draws under) can
        // carry its screenshot; a window the program makes has none yet.
        const WindowId window = request.kind == ViewKind::Foreign ? request.foreign
                                : request.kind == ViewKind::Root  ? RootWindowId(connection_)
                                                                  : 0;
        if (window != 0 && ReadScreenshotProperty(connection_, window, image)) {
            return DesktopRead::Screenshot;
        }
        *missing = N_("the window has no screenshot of the desktop");
        // Another program's window (a daemon's, a locker's) hides the
        // desktop: what the root shows under it is not the user's.
        if (request.kind == ViewKind::Foreign) return DesktopRead::Missing;
        if (!ReadRootRectangle(connection_, request.screen, image)) {
            *missing = N_("the root window cannot be read");
            return DesktopRead::Missing;
        }
        return DesktopRead::Root;
    }

private:
    View* Find(WindowId window) const {
        for (View* v : connection_->views) {
            if (v->Window() == window) return v;
        }
        return nullptr;
    }

    // The session's event for `e`; false for one the host needs not hear.
    bool Translate(const Event& e, SessionEvent* s) const {
        s->view = Find(e.window);
        if (s->view == nullptr) return false;
        s->width = e.width;
        s->height = e.height;
        s->button = e.button;
        s->x = e.x;
        s->y = e.y;
        switch (e.kind) {
            case EventKind::Resized:
                s->kind = SessionEventKind::Resized;
                return true;
            case EventKind::KeyPressed:
                s->kind = SessionEventKind::KeyPressed;
                return true;
            case EventKind::ButtonPressed:
                s->kind = SessionEventKind::ButtonPressed;
                return true;
            case EventKind::PointerDragged:
                s->kind = SessionEventKind::PointerDragged;
                return true;
            case EventKind::Destroyed:
            case EventKind::CloseRequested:
                s->kind = SessionEventKind::Closed;
                return true;
            case EventKind::Exposed:
                return false;
        }
        return false;
    }

    Connection* connection_;
    std::vector<Event> events_;
};

}  // namespace

Session* OpenX11Session(const char* name, std::string* error) {
    Connection* connection = OpenConnection(name, error);
    if (connection == nullptr) return nullptr;
    return new X11Session(connection);
}

}  // namespace platform
