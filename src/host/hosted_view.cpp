// HostedView: the ViewPlatform services of one view on the platform layer.
// Relies on the platform layer, settings/settings_table.h and
// view/desktop_capture.h.
#include "host/hosted_view.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "host/frame_rate_text.h"
#include "host/frame_stretch.h"
#include "settings/settings_table.h"
#include "support/diagnostics.h"
#include "support/translation.h"

void SetUserPictures(const UserSettings& user, const CommandLine& cl, DesktopSources* sources) {
    sources->imageFile = cl.imageFile;
    sources->imageFileFirst = true;
    sources->imageFolder = user.PictureFolder;
    sources->folderFirst = user.Picture == ShownPicture::Folder;
    sources->privacy = user.Privacy;
    // Nanoseconds of the clock: a different pick each run.
    sources->folderSeed =
        static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

void PrepareRenderer(const UserSettings& user) {
    if (!user.FullDetail) platform::DrawOnOneThread();
}

void ReleasePicture(HostShared* shared) { shared->desktopImage = platform::RgbaImage{}; }

bool DrawsReducedFrame(const HostedView* hv) { return hv->reduced.drawn(); }

// The size of what the saver draws into: the window's, or the reduced
// frame's.
static int FrameWidth(const HostedView* hv) {
    const ReducedFrame& r = hv->reduced;
    if (r.scaled.active()) return r.scaled.width();
    return r.bufferScaled ? ScaledSide(hv->screen.width, r.percent) : hv->screen.width;
}

static int FrameHeight(const HostedView* hv) {
    const ReducedFrame& r = hv->reduced;
    if (r.scaled.active()) return r.scaled.height();
    return r.bufferScaled ? ScaledSide(hv->screen.height, r.percent) : hv->screen.height;
}

// Pixels per point of what the saver draws into: the screen's factor, times
// the reduced frame's share of each side when it draws into one.
static float ReducedScale(const HostedView* hv) {
    const float screen = static_cast<float>(hv->screen.scale);
    return DrawsReducedFrame(hv) ? screen * static_cast<float>(hv->reduced.percent) / 100.0f
                                 : screen;
}

// Shows the frame the saver drew: counts it, draws the frame rate over it
// when asked, stretches a reduced frame over the window and presents.
static void PresentFrame(HostedView* hv, const HostShared* shared) {
    // The present at start-up shows the black screen; frames are the
    // presents of a running animation.
    const bool frame = hv->saver != nullptr && hv->saver->IsAnimating();
    if (frame && hv->frames.counted) ++fCount;
    if (frame && hv->frames.showFps) CalcFrameRate(shared->clock());
    if (frame) hv->frames.presented = true;
    ReducedFrame& r = hv->reduced;
    if (r.presenter != nullptr) {
        // The text goes into the reduced frame at its size, and comes
        // out at the window's with the stretch.
        if (frame && hv->frames.showFps) {
            DrawFrameRate(frameRate, r.scaled.width(), r.scaled.height(), ReducedScale(hv));
        }
        r.scaled.ReadPixels(r.readBack.data());
        uint32_t* band = platform::ImagePresenterPixels(r.presenter);
        const auto stretch = r.percent == 25 ? StretchFourTimes : StretchTwice;
        for (int top = 0; top < hv->screen.height; top += r.bandRows) {
            // The band's own width: a resize that could not make the
            // presenter again leaves it as it was.
            stretch(r.readBack.data(), r.scaled.width(), r.scaled.height(), band, r.bandWidth,
                    hv->screen.height, top, r.bandRows);
            platform::PresentImage(r.presenter, top, r.bandRows);
        }
        return;
    }
    r.scaled.Stretch();
    if (frame && hv->frames.showFps) {
        // The text is drawn at the drawable's own size (DrawFrameRate keeps
        // the viewport it finds): the window's, or the reduced one the
        // compositor stretches.
        const int w = r.bufferScaled ? FrameWidth(hv) : hv->screen.width;
        const int h = r.bufferScaled ? FrameHeight(hv) : hv->screen.height;
        glViewport(0, 0, w, h);
        DrawFrameRate(frameRate, w, h,
                      r.bufferScaled ? ReducedScale(hv) : static_cast<float>(hv->screen.scale));
        if (r.scaled.active()) glViewport(0, 0, r.scaled.width(), r.scaled.height());
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
    hv->reduced.softwareRenderer =
        IsSoftwareRenderer(reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    return hv->reduced.softwareRenderer && !hv->power.fullDetail ? hv->reduced.percent : 100;
}

void ConnectHostedView(HostedView* hv, const HostShared* shared) {
    hv->power.fullDetail = shared->settings.FullDetail;
    hv->power.saveBattery = shared->settings.SaveBattery;
    ViewPlatform& s = hv->services;
    s.Clock = shared->clock;
    s.MakeCurrent = [hv] {
        if (!platform::MakeViewCurrent(hv->view)) return false;
        hv->reduced.scaled.Bind();
        return true;
    };
    s.Present = [hv, shared] { PresentFrame(hv, shared); };
    s.ResizeDrawable = [hv](int width, int height) {
        // A window that was resized already has this size (the host records
        // it before it tells the view); other sizes are applied to windows
        // and buffers the program owns. A scaled view's frame is the host's.
        if (DrawsReducedFrame(hv)) return;
        if (width == hv->screen.width && height == hv->screen.height) return;
        if (platform::ResizeView(hv->view, width, height)) {
            hv->screen.width = width;
            hv->screen.height = height;
        }
    };
    s.ScreenNumber = [hv] { return hv->screen.number; };
    s.MainScreenNumber = [hv] { return hv->screen.mainNumber; };
    s.BundlePath = FindBundleFile;
    s.ReadSettings = [hv, shared](UserSettings* settings) {
        // Every view reads them; the one that counts frames says what is
        // wrong with them, once for the process.
        *settings = hv->frames.counted ? ReadSettings(shared->store) : PeekSettings(shared->store);
        for (const SettingOverride& o : shared->overrides) o.entry->set(*settings, o.value);
    };
    s.CaptureDesktop = [hv, shared](uint32_t* name) {
        GetDesktopTexture(name, hv->picture.width > 0 ? hv->picture : shared->desktopImage,
                          hv->view, DesktopTexturePercent(hv));
        hv->reduced.desktopTexture = *name;
    };
    hv->saver = std::make_unique<MereglassView>(&hv->services);
}

// Copies the desktop texture for the water drawn on the processor: it must
// have sides that are powers of two, as the view makes them.
static bool CopyDesktopTexture(ReducedFrame* r) {
    r->water.picture = CopyWaterPicture(r->desktopTexture, &r->picture);
    return r->water.picture.texels != nullptr;
}

// The scene draws the water of a reduced frame on the processor: into the
// frame read back for the presenter, which the frame takes before the
// overlay; or, where the compositor stretches the view's drawable, into a
// frame of its own that is drawn into the drawable. The context must be
// current.
static void StartWaterFrame(HostedView* hv) {
    ReducedFrame& r = hv->reduced;
    if ((r.presenter == nullptr && !r.bufferScaled) || !CopyDesktopTexture(&r)) {
        hv->saver->SetWaterFrame(nullptr);
        return;
    }
    r.water.width = FrameWidth(hv);
    r.water.height = FrameHeight(hv);
    if (r.bufferScaled) {
        // The renderer copies a frame of the drawable's size and order
        // straight into it.
        if (!r.staging.Create(r.water.width, r.water.height, 100)) {
            hv->saver->SetWaterFrame(nullptr);
            return;
        }
        r.readBack.assign(static_cast<size_t>(r.water.width) * static_cast<size_t>(r.water.height),
                          0);
        // Its rows go top first, so that the blit turns them back: the
        // window's drawable keeps its rows top first, and a blit between
        // frames kept the same way round is a plain copy to the renderer
        // (one that turns them runs its generated code over every pixel).
        r.water.topFirst = true;
        r.water.handOver = [&r] {
            r.staging.Upload(r.readBack.data());
            r.staging.Stretch(true);
        };
    } else {
        r.water.topFirst = false;
        r.water.handOver = [&r] { r.scaled.Upload(r.readBack.data()); };
    }
    r.water.pixels = r.readBack.data();
    hv->saver->SetWaterFrame(&r.water);
}

// Makes the reduced frame for the view's size, and the presenter that puts
// its stretched pixels into the window where the window takes them; without
// one, the renderer stretches the frame. The context must be current.
static void StartScaledPresent(HostedView* hv) {
    ReducedFrame& r = hv->reduced;
    if (r.presenter != nullptr) platform::DrawViewOffWindow(hv->view, false);
    platform::DestroyImagePresenter(r.presenter);
    r.presenter = nullptr;
    if (!r.scaled.Create(hv->screen.width, hv->screen.height, r.percent)) {
        // The renderer draws every pixel, its own water too.
        hv->saver->SetWaterFrame(nullptr);
        return;
    }
    if (r.percent == 50 || r.percent == 25) {
        // Four bands, each a whole number of the rows made together from
        // one row of the frame (two, or four).
        const int group = 100 / r.percent;
        r.bandRows = std::max(group, ((hv->screen.height + 3) / 4 + group - 1) / group * group);
        r.bandWidth = hv->screen.width;
        r.presenter = platform::CreateImagePresenter(hv->view, r.bandWidth, r.bandRows);
    }
    if (r.presenter != nullptr) {
        // Nothing is drawn into the window's own buffers any more.
        platform::DrawViewOffWindow(hv->view, true);
        r.readBack.assign(
            static_cast<size_t>(r.scaled.width()) * static_cast<size_t>(r.scaled.height()), 0);
    }
    StartWaterFrame(hv);
}

// Makes the view's drawable the reduced frame, where the compositor
// stretches it over the window.
static bool StartScaledBuffer(HostedView* hv) {
    ReducedFrame& r = hv->reduced;
    r.bufferScaled = platform::ScaleViewBuffer(hv->view, ScaledSide(hv->screen.width, r.percent),
                                               ScaledSide(hv->screen.height, r.percent));
    if (!r.bufferScaled) {
        hv->saver->SetWaterFrame(nullptr);
    } else if (platform::MakeViewCurrent(hv->view)) {
        StartWaterFrame(hv);
    }
    return r.bufferScaled;
}

// True when the view is to draw the reduced frame: on a software renderer,
// unless the user asked for full detail while not saving the battery.
static bool WantsReducedFrame(const HostedView* hv) {
    const ReducedFrame& r = hv->reduced;
    return r.softwareRenderer && r.percent < 100 &&
           (!hv->power.fullDetail || hv->power.savingBattery);
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
    ReducedFrame& r = hv->reduced;
    if (r.bufferScaled) {
        platform::ScaleViewBuffer(hv->view, hv->screen.width, hv->screen.height);
        r.bufferScaled = false;
    }
    if (r.scaled.active()) r.scaled.Destroy();
    if (r.staging.active()) r.staging.Destroy();
    hv->saver->SetWaterFrame(nullptr);
    if (r.presenter != nullptr) platform::DrawViewOffWindow(hv->view, false);
    platform::DestroyImagePresenter(r.presenter);
    r.presenter = nullptr;
}

// Notes the view's renderer. A graphics card presents at most once a
// refresh of the display; a software renderer draws the reduced frame
// when the view asks for one.
static void StartScaledFrame(HostedView* hv) {
    if (!platform::MakeViewCurrent(hv->view)) return;
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    hv->reduced.softwareRenderer = IsSoftwareRenderer(renderer);
    if (!hv->reduced.softwareRenderer) platform::SyncViewToRefresh(hv->view);
    if (WantsReducedFrame(hv)) StartReducedFrame(hv);
}

void FollowBattery(HostedView* hv, bool onBattery) {
    hv->power.savingBattery = onBattery && hv->power.saveBattery;
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
    hv->screen.width = width;
    hv->screen.height = height;
    // The share follows the size, as for a view made at it (an output
    // whose mode went to 4K takes a quarter).
    if (hv->reduced.percent < 100) hv->reduced.percent = ReducedPercent(width, height);
    if (hv->reduced.bufferScaled) {
        StartScaledBuffer(hv);
    } else if (hv->reduced.scaled.active() && platform::MakeViewCurrent(hv->view)) {
        StartScaledPresent(hv);
    }
    hv->saver->SetOverlayScale(ReducedScale(hv));
    hv->saver->SetFrameSize(static_cast<float>(FrameWidth(hv)),
                            static_cast<float>(FrameHeight(hv)));
}

bool StartHostedView(HostedView* hv, bool preview, std::string* error) {
    const NSRect frame{0.0f, 0.0f, static_cast<float>(hv->screen.width),
                       static_cast<float>(hv->screen.height)};
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
        if ((hv->reduced.scaled.active() || hv->reduced.staging.active()) &&
            platform::MakeViewCurrent(hv->view)) {
            hv->reduced.scaled.Destroy();
            hv->reduced.staging.Destroy();
        }
        platform::DestroyImagePresenter(hv->reduced.presenter);
        hv->reduced.presenter = nullptr;
        platform::DestroyView(hv->view);
        hv->view = nullptr;
    }
}
