// HostedView: the ViewPlatform services of one view on the platform layer.
// Relies on the platform layer, view/settings_table.h and view/desktop_capture.h.
#include "app/hosted_view.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "app/frame_rate_text.h"
#include "app/frame_stretch.h"
#include "support/diagnostics.h"
#include "support/translation.h"
#include "view/settings_table.h"

void SetUserPictures(const platform::SettingsStore* store, const CommandLine& cl,
                     DesktopSources* sources) {
    sources->imageFile = cl.imageFile;
    sources->imageFileFirst = true;
    UserSettings user = PeekSettings(store);
    ApplySettingOverrides(cl, &user);
    sources->imageFolder = user.PictureFolder;
    sources->folderFirst = user.Picture == ShownPicture::Folder;
    sources->privacy = user.Privacy;
    // Nanoseconds of the clock: a different pick each run.
    sources->folderSeed =
        static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

void PrepareRenderer(const platform::SettingsStore* store, const CommandLine& cl) {
    UserSettings user = PeekSettings(store);
    ApplySettingOverrides(cl, &user);
    if (!user.FullDetail) platform::DrawOnOneThread();
}

void ReleasePicture(HostShared* shared) { shared->desktopImage = platform::RgbaImage{}; }

bool DrawsReducedFrame(const HostedView* hv) { return hv->scaled.active() || hv->bufferScaled; }

// The size of what the saver draws into: the window's, or the reduced
// frame's.
static int FrameWidth(const HostedView* hv) {
    if (hv->scaled.active()) return hv->scaled.width();
    return hv->bufferScaled ? ScaledSide(hv->width, hv->scalePercent) : hv->width;
}

static int FrameHeight(const HostedView* hv) {
    if (hv->scaled.active()) return hv->scaled.height();
    return hv->bufferScaled ? ScaledSide(hv->height, hv->scalePercent) : hv->height;
}

// Pixels per point of what the saver draws into: the screen's factor, times
// the reduced frame's share of each side when it draws into one.
static float ReducedScale(const HostedView* hv) {
    const float screen = static_cast<float>(hv->screenScale);
    return DrawsReducedFrame(hv) ? screen * static_cast<float>(hv->scalePercent) / 100.0f : screen;
}

// Shows the frame the saver drew: counts it, draws the frame rate over it
// when asked, stretches a reduced frame over the window and presents.
static void PresentFrame(HostedView* hv, const HostShared* shared) {
    // The present at start-up shows the black screen; frames are the
    // presents of a running animation.
    const bool frame = hv->saver != nullptr && hv->saver->IsAnimating();
    if (frame && hv->countsFrames) ++fCount;
    if (frame && hv->showFps) CalcFrameRate(shared->clock());
    if (frame) hv->presented = true;
    if (hv->presenter != nullptr) {
        // The text goes into the reduced frame at its size, and comes
        // out at the window's with the stretch.
        if (frame && hv->showFps) {
            DrawFrameRate(frameRate, hv->scaled.width(), hv->scaled.height(), ReducedScale(hv));
        }
        hv->scaled.ReadPixels(hv->readBack.data());
        uint32_t* band = platform::ImagePresenterPixels(hv->presenter);
        for (int top = 0; top < hv->height; top += hv->bandRows) {
            StretchTwice(hv->readBack.data(), hv->scaled.width(), hv->scaled.height(), band,
                         hv->width, hv->height, top, hv->bandRows);
            platform::PresentImage(hv->presenter, top, hv->bandRows);
        }
        return;
    }
    hv->scaled.Stretch();
    if (frame && hv->showFps) {
        // The text is drawn at the drawable's own size (DrawFrameRate keeps
        // the viewport it finds): the window's, or the reduced one the
        // compositor stretches.
        const int w = hv->bufferScaled ? FrameWidth(hv) : hv->width;
        const int h = hv->bufferScaled ? FrameHeight(hv) : hv->height;
        glViewport(0, 0, w, h);
        DrawFrameRate(frameRate, w, h,
                      hv->bufferScaled ? ReducedScale(hv) : static_cast<float>(hv->screenScale));
        if (hv->scaled.active()) glViewport(0, 0, hv->scaled.width(), hv->scaled.height());
    }
    platform::PresentView(hv->view);
}

// The path of a file of the program's bundle, copied into buffer.
static bool FindBundleFile(const char* name, const char* type, char* buffer, size_t size) {
    buffer[0] = '\0';
    const std::string path = platform::BundleResourcePath(name, type);
    if (path.empty()) {
        // Without the archive the water still runs, but the intro and
        // the overlay have no pictures: say why once.
        Tell(Format(_("cannot find %s.%s; the water runs without its pictures"), name, type));
        return false;
    }
    if (path.size() + 1 > size) return false;
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return true;
}

// The share of each side of the desktop texture: the reduced frame's when
// the view only ever draws that frame (a software renderer without full
// detail), else all of it. Notes the renderer on the way.
static int DesktopTexturePercent(HostedView* hv) {
    if (!platform::MakeViewCurrent(hv->view)) return 100;
    hv->softwareRenderer =
        IsSoftwareRenderer(reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    return hv->softwareRenderer && !hv->fullDetail ? hv->scalePercent : 100;
}

void ConnectHostedView(HostedView* hv, const HostShared* shared) {
    ViewPlatform& s = hv->services;
    s.Clock = shared->clock;
    s.MakeCurrent = [hv] {
        if (!platform::MakeViewCurrent(hv->view)) return false;
        hv->scaled.Bind();
        return true;
    };
    s.Present = [hv, shared] { PresentFrame(hv, shared); };
    s.ResizeDrawable = [hv](int width, int height) {
        // A window that was resized already has this size (the host records
        // it before it tells the view); other sizes are applied to windows
        // and buffers the program owns. A scaled view's frame is the host's.
        if (DrawsReducedFrame(hv)) return;
        if (width == hv->width && height == hv->height) return;
        if (platform::ResizeView(hv->view, width, height)) {
            hv->width = width;
            hv->height = height;
        }
    };
    s.ScreenNumber = [hv] { return hv->screenNumber; };
    s.MainScreenNumber = [hv] { return hv->mainScreenNumber; };
    s.BundlePath = FindBundleFile;
    s.ReadSettings = [hv, shared](UserSettings* settings) {
        // Every view reads them; the one that counts frames says what is
        // wrong with them, once for the process.
        *settings = hv->countsFrames ? ReadSettings(shared->store) : PeekSettings(shared->store);
        for (const SettingOverride& o : shared->overrides) o.entry->set(*settings, o.value);
        hv->fullDetail = settings->FullDetail;
        hv->saveBattery = settings->SaveBattery;
    };
    s.CaptureDesktop = [hv, shared](uint32_t* name) {
        GetDesktopTexture(name, hv->picture.width > 0 ? hv->picture : shared->desktopImage,
                          hv->view, DesktopTexturePercent(hv));
    };
    s.settingsStore = shared->store;
    s.OpenWebsite = [] { platform::OpenWebPage(platform::kWebPage); };
    hv->saver = std::make_unique<MereglassView>(&hv->services);
}

// Makes the reduced frame for the view's size, and the presenter that puts
// its stretched pixels into the window where the window takes them; without
// one, the renderer stretches the frame. The context must be current.
static void StartScaledPresent(HostedView* hv) {
    if (hv->presenter != nullptr) platform::DrawViewOffWindow(hv->view, false);
    platform::DestroyImagePresenter(hv->presenter);
    hv->presenter = nullptr;
    if (!hv->scaled.Create(hv->width, hv->height, hv->scalePercent)) return;
    if (hv->scalePercent == 50) {
        // Four bands, each an even number of rows, so that no band splits
        // a pair of rows made together.
        hv->bandRows = std::max(2, ((hv->height + 3) / 4 + 1) & ~1);
        hv->presenter = platform::CreateImagePresenter(hv->view, hv->width, hv->bandRows);
    }
    if (hv->presenter != nullptr) {
        // Nothing is drawn into the window's own buffers any more.
        platform::DrawViewOffWindow(hv->view, true);
        hv->readBack.assign(
            static_cast<size_t>(hv->scaled.width()) * static_cast<size_t>(hv->scaled.height()), 0);
    }
}

// Makes the view's drawable the reduced frame, where the compositor
// stretches it over the window.
static bool StartScaledBuffer(HostedView* hv) {
    hv->bufferScaled = platform::ScaleViewBuffer(hv->view, ScaledSide(hv->width, hv->scalePercent),
                                                 ScaledSide(hv->height, hv->scalePercent));
    return hv->bufferScaled;
}

// True when the view is to draw the reduced frame: on a software renderer,
// unless the user asked for full detail while not saving the battery.
static bool WantsReducedFrame(const HostedView* hv) {
    return hv->softwareRenderer && hv->scalePercent < 100 && (!hv->fullDetail || hv->savingBattery);
}

// Makes the reduced frame: the view's own drawable where the compositor
// stretches it, else an offscreen frame where the renderer can draw one.
// The context must be current.
static void StartReducedFrame(HostedView* hv) {
    if (StartScaledBuffer(hv) || !ScaledFrame::Supported()) return;
    StartScaledPresent(hv);
}

// Back to drawing every pixel. The context must be current.
static void EndReducedFrame(HostedView* hv) {
    if (hv->bufferScaled) {
        platform::ScaleViewBuffer(hv->view, hv->width, hv->height);
        hv->bufferScaled = false;
    }
    if (hv->scaled.active()) hv->scaled.Destroy();
    if (hv->presenter != nullptr) platform::DrawViewOffWindow(hv->view, false);
    platform::DestroyImagePresenter(hv->presenter);
    hv->presenter = nullptr;
}

// Notes the view's renderer. A graphics card presents at most once a
// refresh of the display; a software renderer draws the reduced frame
// when the view asks for one.
static void StartScaledFrame(HostedView* hv) {
    if (!platform::MakeViewCurrent(hv->view)) return;
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    hv->softwareRenderer = IsSoftwareRenderer(renderer);
    if (!hv->softwareRenderer) platform::SyncViewToRefresh(hv->view);
    if (WantsReducedFrame(hv)) StartReducedFrame(hv);
}

void FollowBattery(HostedView* hv, bool onBattery) {
    hv->savingBattery = onBattery && hv->saveBattery;
    if (hv->saver == nullptr || WantsReducedFrame(hv) == DrawsReducedFrame(hv) ||
        !platform::MakeViewCurrent(hv->view)) {
        return;
    }
    if (DrawsReducedFrame(hv)) {
        EndReducedFrame(hv);
    } else {
        StartReducedFrame(hv);
    }
    hv->saver->SetOverlayScale(ReducedScale(hv));
    hv->saver->SetFrameSize(static_cast<float>(FrameWidth(hv)),
                            static_cast<float>(FrameHeight(hv)));
}

void ResizeHostedView(HostedView* hv, int width, int height) {
    hv->width = width;
    hv->height = height;
    if (hv->bufferScaled) {
        StartScaledBuffer(hv);
    } else if (hv->scaled.active() && platform::MakeViewCurrent(hv->view)) {
        StartScaledPresent(hv);
    }
    hv->saver->SetOverlayScale(ReducedScale(hv));
    hv->saver->SetFrameSize(static_cast<float>(FrameWidth(hv)),
                            static_cast<float>(FrameHeight(hv)));
}

bool StartHostedView(HostedView* hv, bool preview, std::string* error) {
    const NSRect frame{0.0f, 0.0f, static_cast<float>(hv->width), static_cast<float>(hv->height)};
    if (!hv->saver->InitWithFrame(frame, preview)) {
        *error = _("the view could not be created");
        return false;
    }
    // The settings are read now; the saver's first frame size is that of
    // the reduced frame when it draws into one.
    StartScaledFrame(hv);
    hv->saver->SetFrameSize(static_cast<float>(FrameWidth(hv)),
                            static_cast<float>(FrameHeight(hv)));
    hv->saver->SetOverlayScale(ReducedScale(hv));
    hv->saver->StartAnimation();
    return true;
}

void EndHostedView(HostedView* hv) {
    if (hv->saver != nullptr) {
        hv->saver->StopAnimation();
        hv->saver->Dealloc();
        hv->saver.reset();
    }
    if (hv->view != nullptr) {
        if (hv->scaled.active() && platform::MakeViewCurrent(hv->view)) hv->scaled.Destroy();
        platform::DestroyImagePresenter(hv->presenter);
        hv->presenter = nullptr;
        platform::DestroyView(hv->view);
        hv->view = nullptr;
    }
}
