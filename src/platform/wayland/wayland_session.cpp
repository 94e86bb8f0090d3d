// The Wayland session: the compositor's outputs, a covering view per
// output, the compositor's events in the session's terms, the outputs'
// power (the compositor's own protocol, else Mutter's power-save mode on
// the session bus, whose descriptor joins the connection's in one epoll
// set), and each output's picture by screencopy, else cut from the
// screenshot portal's picture of the whole desktop. Relies on the
// connection, the view and screencopy of this folder, and on the desktop
// services' portal and Mutter's power-save mode (through the shared
// headers platform/portal_screenshot.h and platform/mutter_power_save.h).
//
// Provides: OpenWaylandSession, CropDesktopPicture.
#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>

#include "platform/mutter_power_save.h"
#include "platform/portal_screenshot.h"
#include "platform/session.h"
#include "platform/view_port.h"
#include "platform/wayland/wayland.h"
#include "platform/wayland/wayland_internal.h"
#include "support/translation.h"

namespace platform {

namespace {

// The longest wait for any one source of the desktop's picture.
constexpr double kSourceSeconds = 2.0;

std::string NameOf(const WaylandOutput& o) { return o.name.empty() ? _("an output") : o.name; }

Output OutputOf(const WaylandOutput& o, bool primary) {
    Output out;
    out.screen.x = o.x;
    out.screen.y = o.y;
    out.screen.width = o.width * o.scale;
    out.screen.height = o.height * o.scale;
    out.screen.number = static_cast<int>(o.id);
    out.screen.primary = primary;
    out.name = o.name;
    out.scale = o.scale;
    return out;
}

class WaylandSession final : public Session {
public:
    explicit WaylandSession(WaylandConnection* connection) : connection_(connection) {
        events_.reserve(64);
        if (!WaylandTellsPower(connection_)) WatchMutter();
    }
    ~WaylandSession() override {
        CloseMutterPowerSave(mutter_);
        if (epollFd_ >= 0) close(epollFd_);
        CloseWayland(connection_);
    }

    int Fd() const override { return epollFd_ >= 0 ? epollFd_ : WaylandFd(connection_); }

    bool Dispatch(std::vector<SessionEvent>* events, std::string* error) override {
        events_.clear();
        if (!WaylandDispatch(connection_, &events_, error)) return false;
        for (const WaylandEvent& e : events_) events->push_back(Translate(e));
        pollfd news{MutterPowerSaveFd(mutter_), POLLIN, 0};
        if (mutter_ != nullptr && poll(&news, 1, 0) > 0 && DispatchMutterPowerSave(mutter_)) {
            events->push_back({.kind = SessionEventKind::PowerChanged});
        }
        return true;
    }

    bool Flush(std::string* error) override {
        if (WaylandFlush(connection_)) return true;
        *error = _("the Wayland compositor has gone");
        return false;
    }

    // Wayland names no primary output: the first is the main one.
    std::vector<Output> Outputs() override {
        std::vector<Output> out;
        for (const WaylandOutput& o : WaylandOutputs(connection_)) {
            out.push_back(OutputOf(o, out.empty()));
        }
        return out;
    }

    View* CreateView(const ViewRequest& request, std::string* error) override {
        if (request.kind != ViewKind::FullScreen) {
            *error = "a Wayland session only covers its outputs";  // never asked
            return nullptr;
        }
        View* view =
            CreateWaylandView(connection_, static_cast<uint32_t>(request.screen.number), error);
        viewMade_ = viewMade_ || view != nullptr;
        return view;
    }

    ScreenInfo ScreenOfView(View* view) override {
        const int number = static_cast<int>(OutputOfView(view));
        for (const Output& o : Outputs()) {
            if (o.screen.number == number) return o.screen;
        }
        return ScreenInfo{.number = number};
    }

    bool CoversOutputs() const override { return true; }
    bool ViewReady(const View* view) const override { return WaylandViewReady(view); }

    bool OutputDark(int number) const override {
        if (MutterScreensOff(mutter_)) return true;
        const OutputState* o = FindOutput(connection_, static_cast<uint32_t>(number));
        return o != nullptr && o->info.poweredOff;
    }

    DesktopRead ReadDesktop(const ViewRequest& request, RgbaImage* image,
                            std::string* missing) override;

private:
    SessionEvent Translate(const WaylandEvent& e) const {
        SessionEvent s;
        s.output = static_cast<int>(e.output);
        s.width = e.width;
        s.height = e.height;
        s.x = e.x;
        s.y = e.y;
        switch (e.kind) {
            case WaylandEventKind::OutputAdded:
                s.kind = SessionEventKind::OutputAdded;
                break;
            case WaylandEventKind::OutputRemoved:
            case WaylandEventKind::Closed:
                s.kind = SessionEventKind::OutputGone;
                break;
            case WaylandEventKind::Resized:
                s.kind = SessionEventKind::Resized;
                s.view = ViewOn(e.output);
                break;
            case WaylandEventKind::KeyPressed:
                s.kind = SessionEventKind::KeyPressed;
                break;
            case WaylandEventKind::ButtonPressed:
                s.kind = SessionEventKind::ButtonPressed;
                break;
            case WaylandEventKind::PointerMoved:
                s.kind = SessionEventKind::PointerMoved;
                break;
            case WaylandEventKind::PowerChanged:
                s.kind = SessionEventKind::PowerChanged;
                break;
        }
        return s;
    }

    // Mutter tells its monitors' power on the session bus: its descriptor
    // and the connection's are waited on as one.
    void WatchMutter() {
        mutter_ = OpenMutterPowerSave();
        if (mutter_ == nullptr) return;
        epollFd_ = epoll_create1(EPOLL_CLOEXEC);
        for (int fd : {WaylandFd(connection_), MutterPowerSaveFd(mutter_)}) {
            epoll_event e{};
            e.events = EPOLLIN;
            e.data.fd = fd;
            if (epollFd_ >= 0 && epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &e) != 0) {
                close(epollFd_);
                epollFd_ = -1;
            }
        }
        if (epollFd_ < 0) {
            CloseMutterPowerSave(mutter_);
            mutter_ = nullptr;
        }
    }

    View* ViewOn(uint32_t output) const {
        for (View* v : connection_->views) {
            if (OutputOfView(v) == output) return v;
        }
        return nullptr;
    }

    // The portal's picture of the whole desktop cut to `output`; taken
    // once, on the first call. False, with a reason, when there is none.
    bool PortalPicture(const std::vector<WaylandOutput>& outputs, const WaylandOutput& output,
                       RgbaImage* image, std::string* error);

    WaylandConnection* connection_;
    std::vector<WaylandEvent> events_;
    // Mutter's power-save mode, where the compositor tells no output's
    // power itself and Mutter is on the bus; then also the epoll set of
    // its descriptor and the connection's.
    MutterPowerSave* mutter_ = nullptr;
    int epollFd_ = -1;
    // A view of the program covers an output: a picture of the desktop
    // from the portal would show it.
    bool viewMade_ = false;
    // Screencopy failed for an output before any view was made: the rest
    // take the portal's picture too, so that all show one kind.
    bool screencopyFailed_ = false;
    std::string whyNoScreencopy_;
    bool portalAsked_ = false;
    std::string portalError_;
    RgbaImage desktop_;  // the portal's picture, until a view is made
};

bool WaylandSession::PortalPicture(const std::vector<WaylandOutput>& outputs,
                                   const WaylandOutput& output, RgbaImage* image,
                                   std::string* error) {
    if (!portalAsked_) {
        portalAsked_ = true;
        PortalScreenshot(kSourceSeconds, &desktop_, &portalError_);
    }
    if (desktop_.pixels.empty()) {
        *error = portalError_;
        return false;
    }
    if (!CropDesktopPicture(desktop_, outputs, output, image)) {
        *error = _("the screenshot portal's picture does not cover every output");
        return false;
    }
    return true;
}

DesktopRead WaylandSession::ReadDesktop(const ViewRequest& request, RgbaImage* image,
                                        std::string* missing) {
    if (viewMade_) desktop_ = RgbaImage{};
    const std::vector<WaylandOutput> outputs = WaylandOutputs(connection_);
    const WaylandOutput* output = nullptr;
    for (const WaylandOutput& o : outputs) {
        if (static_cast<int>(o.id) == request.screen.number) output = &o;
    }
    if (output == nullptr) {
        *missing = _("the output is gone");
        return DesktopRead::Missing;
    }
    std::string error;
    if (!WaylandHasScreencopy(connection_)) {
        whyNoScreencopy_ = _("the compositor offers no screencopy");
    } else if (!screencopyFailed_ || viewMade_) {
        if (CaptureWaylandOutput(connection_, output->id, kSourceSeconds, image, &error)) {
            return DesktopRead::Screencopy;
        }
        // Once the program covers outputs, the host names the new one.
        whyNoScreencopy_ =
            viewMade_ ? error
                      : Format(_("screencopy of %s: %s"), NameOf(*output).c_str(), error.c_str());
        screencopyFailed_ = !viewMade_;
    }
    *missing = whyNoScreencopy_;
    if (viewMade_) return DesktopRead::Missing;
    if (!PortalPicture(outputs, *output, image, &error)) {
        *missing = whyNoScreencopy_ + "; " + error;
        return DesktopRead::Missing;
    }
    return DesktopRead::Portal;
}

}  // namespace

Session* OpenWaylandSession(std::string* error) {
    WaylandConnection* connection = OpenWayland(nullptr, error);
    if (connection == nullptr) return nullptr;
    return new WaylandSession(connection);
}

bool CropDesktopPicture(const RgbaImage& desktop, const std::vector<WaylandOutput>& outputs,
                        const WaylandOutput& output, RgbaImage* image) {
    if (outputs.empty() || desktop.width <= 0 || desktop.height <= 0) return false;
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    for (const WaylandOutput& o : outputs) {
        left = std::min(left, o.x);
        top = std::min(top, o.y);
        right = std::max(right, o.x + o.width);
        bottom = std::max(bottom, o.y + o.height);
    }
    if (right <= left || bottom <= top) return false;
    // Picture pixels per logical pixel, each way.
    const double sx = static_cast<double>(desktop.width) / (right - left);
    const double sy = static_cast<double>(desktop.height) / (bottom - top);
    const int x0 = static_cast<int>(std::lround((output.x - left) * sx));
    const int y0 = static_cast<int>(std::lround((output.y - top) * sy));
    const int x1 = std::min(desktop.width,
                            static_cast<int>(std::lround((output.x + output.width - left) * sx)));
    const int y1 = std::min(desktop.height,
                            static_cast<int>(std::lround((output.y + output.height - top) * sy)));
    if (x0 < 0 || y0 < 0 || x1 <= x0 || y1 <= y0) return false;
    image->width = x1 - x0;
    image->height = y1 - y0;
    image->pixels.resize(static_cast<size_t>(image->width) * image->height * 4);
    // Both are bottom row first: the output's top row y0 is the desktop's
    // row height - 1 - y0 from the bottom.
    for (int y = 0; y < image->height; ++y) {
        const int from = desktop.height - y1 + y;
        std::copy_n(desktop.pixels.data() + (static_cast<size_t>(from) * desktop.width + x0) * 4,
                    static_cast<size_t>(image->width) * 4,
                    image->pixels.data() + static_cast<size_t>(y) * image->width * 4);
    }
    return true;
}

}  // namespace platform
