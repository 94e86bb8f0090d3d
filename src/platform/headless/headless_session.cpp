// The headless session: one output of the size asked for, drawn offscreen,
// with no events and no desktop to read. Relies on the headless view.
//
// Provides: OpenHeadlessSession.
#include "platform/session.h"
#include "support/translation.h"

namespace platform {

namespace {

class HeadlessSession final : public Session {
public:
    HeadlessSession(int width, int height) : width_(width), height_(height) {}

    int Fd() const override { return -1; }
    bool Dispatch(std::vector<SessionEvent>*, std::string*) override { return true; }
    bool Flush(std::string*) override { return true; }

    std::vector<Output> Outputs() override {
        Output out;
        out.screen = HeadlessScreens(width_, height_).front();
        out.scale = 1;
        return {out};
    }

    View* CreateView(const ViewRequest& request, std::string* error) override {
        if (request.kind != ViewKind::Offscreen) {
            *error = "without a display the program draws offscreen only";  // never asked
            return nullptr;
        }
        std::string why;
        View* view = CreateHeadlessView(request.width, request.height, &why);
        if (view == nullptr) *error = Format(_("no offscreen OpenGL context: %s"), why.c_str());
        return view;
    }

    ScreenInfo ScreenOfView(View*) override { return Outputs().front().screen; }
    bool ViewReady(const View*) const override { return true; }

    DesktopRead ReadDesktop(const ViewRequest&, RgbaImage*, std::string* missing) override {
        *missing = N_("there is no X display");
        return DesktopRead::Missing;
    }

private:
    int width_;
    int height_;
};

}  // namespace

Session* OpenHeadlessSession(int width, int height) { return new HeadlessSession(width, height); }

}  // namespace platform
