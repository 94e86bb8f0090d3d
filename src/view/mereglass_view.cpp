// MereglassView: creation, the main-screen rule, the frame loop with its time
// step, OpenGL set-up, scene set-up and tear-down. Relies on OpenGL and GLU,
// the scene driver, the texture loader and the view's ViewPlatform.
#include "view/mereglass_view.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cstdlib>
#include <new>
#include <string>

#include "resources/textures.h"
#include "scene/scene.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace {

// Tick period of the frame loop, seconds.
constexpr double kTickSeconds = 1.0 / 60.0;
// A step is applied only when it is longer than this ...
constexpr double kShortestStep = 0.01;
// ... and no longer than this; a longer gap only re-bases the clock.
constexpr double kLongestStep = 2.0;
// Size of the archive path buffer, terminator included.
constexpr size_t kPathBufferSize = 16384;

}  // namespace

void OpenGLView::SetFrameSize(float w, float h) {
    width = w;
    height = h;
    platform->ResizeDrawable(static_cast<int>(w), static_cast<int>(h));
}

MereglassView::MereglassView(ViewPlatform* services) : ScreenSaverView(services) {
    glView.platform = services;
}

MereglassView::~MereglassView() {
    // A view must be torn down through Dealloc, in its own context; this
    // only catches a host that forgot, so nothing leaks.
    if (!deallocated_) Dealloc();
}

bool MereglassView::InitWithFrame(NSRect frame, bool isPreview) {
    if (!ScreenSaverView::InitWithFrame(frame, isPreview)) return false;

    // The child drawing view: the platform's drawable and context. It has no
    // size of its own until the first SetFrameSize.
    glView.platform = platform;
    AddSubview();
    viewAllocated = 1;
    glReady = 0;

    UserSettings user = FactorySettings();
    platform->ReadSettings(&user);
    MainMonitorOnly = user.MainMonitorOnly;
    mySettings = user.record;

    const NSRect bounds = Bounds();
    Scrn.width = bounds.width;
    Scrn.height = bounds.height;

    ThisScreenIsOn = true;
    initialized = 0;
    DeskTex = 0;

    GetDesktopTexture(&DeskTex);

    SetAnimationTimeInterval(kTickSeconds);
    return true;
}

void MereglassView::GetDesktopTexture(uint32_t* name) { platform->CaptureDesktop(name); }

void MereglassView::SetFrameSize(float width, float height) {
    ScreenSaverView::SetFrameSize(width, height);
    if (viewAllocated) {
        const NSRect bounds = Bounds();
        glView.SetFrameSize(bounds.width, bounds.height);
    }
    glReady = 0;
}

void MereglassView::StartAnimation() {
    ThisScreenIsOn = true;
    if (MainMonitorOnly && ScreenNumber() != MainScreenNumber()) ThisScreenIsOn = false;

    if (glView.MakeCurrentContext()) {
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glFlush();
        platform->Present();
    }

    ScreenSaverView::StartAnimation();
}

void MereglassView::StopAnimation() { ScreenSaverView::StopAnimation(); }

void MereglassView::SetOverlayScale(float scale) {
    overlayScale = scale;
    if (ssMain != nullptr) ssMain->overlayScale = scale;
}

void MereglassView::SetWaterFrame(WaterFrame* frame) {
    waterFrame_ = frame;
    if (ssMain != nullptr) ssMain->waterFrame = frame;
}

void MereglassView::TouchWater(float x, float y, bool trail) {
    int column = 0, row = 0;
    if (ssMain == nullptr || !ssMain->PixelToGrid(x, y, &column, &row)) return;
    if (trail && column == touchColumn_ && row == touchRow_) return;
    ssMain->DropAt(column, row, trail);
    touchColumn_ = column;
    touchRow_ = row;
}

void MereglassView::AnimateOneFrame() {
    if (!ThisScreenIsOn) {
        StopAnimation();
        return;
    }

    // Without its context (the window went away) the view cannot draw; the
    // host notices the lost window and ends.
    if (!glView.MakeCurrentContext()) return;

    if (!glReady) {
        GlInit();
        glReady = 1;
    }

    if (!initialized) {
        MainSetup();
        initialized = 1;
        glClear(GL_COLOR_BUFFER_BIT);
    }

    const double seconds = platform->Clock() - animtime;
    if (seconds > kLongestStep) {
        animtime = platform->Clock();
        return;
    }
    if (seconds > kShortestStep) {
        animtime = platform->Clock();
        if (ssMain != nullptr) ssMain->Update(seconds);
        GlReshape();
        if (ssMain != nullptr) ssMain->Draw();
        glFlush();
        platform->Present();
    }
    // A shorter step carries over to a later tick: animtime stays.
}

void MereglassView::GlInit() {
    const NSRect bounds = Bounds();
    Scrn.width = bounds.width;
    Scrn.height = bounds.height;

    const int width = static_cast<int>(Scrn.width);
    const int height = static_cast<int>(Scrn.height);
    glViewport(0, 0, width, height);
    if (ssMain != nullptr) ssMain->SetSize(width, height);

    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);

    GlReshape();
}

void MereglassView::GlReshape() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const float aspect = Scrn.width / Scrn.height;
    gluPerspective(45.0, aspect, 1.0, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

bool MereglassView::MainSetup() {
    const NSRect bounds = Bounds();

    srand(static_cast<uint32_t>(platform->Clock()));

    delete ssMain;
    ssMain = nullptr;

    ssMain = new (std::nothrow) SSMAIN();
    if (ssMain == nullptr) return false;
    ssMain->overlayScale = overlayScale;
    ssMain->waterFrame = waterFrame_;

    if (!ssMain->Setup(IsPreview(), static_cast<int>(bounds.width), static_cast<int>(bounds.height),
                       &mySettings)) {
        return false;
    }

    // Without the archive's pictures the intro and the overlay show
    // nothing, but the water runs over the desktop all the same.
    char path[kPathBufferSize];
    path[0] = '\0';
    bool loaded = false;
    if (platform->BundlePath("murkle", "respak", path, sizeof path)) {
        loaded = LoadTexturesFromDataFile(path, &ssMain->textures, &ssMain->textureCount) != 0;
        if (!loaded) {
            Tell(Format(_("cannot read %s; the water runs without its pictures"),
                        DisplayName(path).c_str()));
        }
    }

    ssMain->deskTexture = DeskTex;
    DeskTex = 0;  // the scene driver owns it now

    animtime = platform->Clock();
    return loaded;
}

void MereglassView::Dealloc() {
    if (deallocated_) return;
    deallocated_ = true;

    // Cleanup deletes the scene's textures in the view's own context. When
    // that context cannot be made current (its window is gone), the names
    // go with the context; the memory is released all the same.
    const bool current = viewAllocated && glView.MakeCurrentContext();
    if (ssMain != nullptr) {
        ssMain->Cleanup();
        delete ssMain;  // runs Cleanup again, which finds nothing left
        ssMain = nullptr;
    }
    // A desktop texture that never reached a scene driver (its set-up
    // failed) would otherwise outlive the view.
    if (DeskTex != 0 && current) glDeleteTextures(1, &DeskTex);
    DeskTex = 0;

    ScreenSaverView::Dealloc();
}
