// HostedView: the ViewPlatform services of one view on the platform layer.
// Relies on the platform layer, host/settings.h and host/desktop_capture.h.
#include "host/hosted_view.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstring>

#include "host/frame_rate_text.h"
#include "host/settings.h"
#include "support/diagnostics.h"

void AcquirePicture(DesktopSources sources, HostShared* shared) {
    if (!sources.imageFile.empty()) {
        std::string error;
        if (platform::LoadImageFile(sources.imageFile.c_str(),
                                    DesktopImageSideLimit(sources.mainScreen),
                                    &shared->desktopImage, &error)) {
            return;
        }
        std::fprintf(stderr, "mereglass: cannot use the image %s: %s\n", sources.imageFile.c_str(),
                     error.c_str());
        sources.imageFile.clear();
    }
    AcquireDesktopImage(sources, &shared->desktopImage);
}

void ReleasePicture(HostShared* shared) { shared->desktopImage = platform::RgbaImage{}; }

void ConnectHostedView(HostedView* hv, const HostShared* shared) {
    ViewPlatform& s = hv->services;
    s.Clock = shared->clock;
    s.MakeCurrent = [hv] {
        if (!platform::MakeViewCurrent(hv->view)) return false;
        hv->scaled.Bind();
        return true;
    };
    s.Present = [hv, shared] {
        hv->scaled.Stretch();
        // The present at start-up shows the black screen; frames are the
        // presents of a running animation.
        if (hv->saver != nullptr && hv->saver->IsAnimating()) {
            if (hv->countsFrames) ++fCount;
            if (hv->showFps) {
                CalcFrameRate(shared->clock());
                // The text is drawn at the window's own size (DrawFrameRate
                // keeps the viewport it finds).
                glViewport(0, 0, hv->width, hv->height);
                DrawFrameRate(frameRate, hv->width, hv->height);
                if (hv->scaled.active()) glViewport(0, 0, hv->scaled.width(), hv->scaled.height());
            }
            hv->presented = true;
        }
        platform::PresentView(hv->view);
    };
    s.ResizeDrawable = [hv](int width, int height) {
        // A window that was resized already has this size (the host records
        // it before it tells the view); other sizes are applied to windows
        // and buffers the program owns. A scaled view's frame is the host's.
        if (hv->scaled.active()) return;
        if (width == hv->width && height == hv->height) return;
        if (platform::ResizeView(hv->view, width, height)) {
            hv->width = width;
            hv->height = height;
        }
    };
    s.ScreenNumber = [hv] { return hv->screenNumber; };
    s.MainScreenNumber = [hv] { return hv->mainScreenNumber; };
    s.BundlePath = [](const char* name, const char* type, char* buffer, size_t size) {
        buffer[0] = '\0';
        const std::string path = platform::BundleResourcePath(name, type);
        if (path.empty()) {
            // Without the archive the water still runs, but the intro and
            // the overlay have no pictures: say why once.
            std::fprintf(stderr,
                         "mereglass: cannot find %s.%s; the water runs without its pictures\n",
                         name, type);
            return false;
        }
        if (path.size() + 1 > size) return false;
        std::memcpy(buffer, path.c_str(), path.size() + 1);
        return true;
    };
    s.ReadSettings = [hv, shared](bool* mainMonitorOnly, SETTINGS* settings, bool* fullDetail) {
        UserSettings user = ReadSettings(shared->store);
        for (const SettingOverride& o : shared->overrides) o.entry->set(user, o.value);
        hv->fullDetail = user.FullDetail;
        *fullDetail = user.FullDetail;
        *mainMonitorOnly = user.MainMonitorOnly;
        *settings = user.record;
    };
    s.CaptureDesktop = [hv, shared](uint32_t* name) {
        GetDesktopTexture(name, shared->desktopImage, hv->view);
    };
    s.settingsStore = shared->store;
    s.OpenWebsite = [] { platform::OpenWebPage(platform::kWebPage); };
    hv->saver = std::make_unique<MereglassView>(&hv->services);
}

// Makes the reduced frame of a view that asks for one, when its renderer is
// a software one and can draw offscreen.
void StartScaledFrame(HostedView* hv) {
    if (hv->scalePercent >= 100 || hv->fullDetail || !platform::MakeViewCurrent(hv->view)) {
        return;
    }
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    if (!IsSoftwareRenderer(renderer) || !ScaledFrame::Supported()) return;
    hv->scaled.Create(hv->width, hv->height, hv->scalePercent);
}

void ResizeHostedView(HostedView* hv, int width, int height) {
    hv->width = width;
    hv->height = height;
    if (hv->scaled.active() && platform::MakeViewCurrent(hv->view) &&
        hv->scaled.Create(width, height, hv->scalePercent)) {
        hv->saver->SetFrameSize(static_cast<float>(hv->scaled.width()),
                                static_cast<float>(hv->scaled.height()));
        return;
    }
    hv->saver->SetFrameSize(static_cast<float>(width), static_cast<float>(height));
}

bool StartHostedView(HostedView* hv, bool preview, std::string* error) {
    const NSRect frame{0.0f, 0.0f, static_cast<float>(hv->width), static_cast<float>(hv->height)};
    if (!hv->saver->InitWithFrame(frame, preview)) {
        *error = "the view could not be created";
        return false;
    }
    // The settings are read now; the saver's first frame size is that of
    // the reduced frame when it draws into one.
    StartScaledFrame(hv);
    const int width = hv->scaled.active() ? hv->scaled.width() : hv->width;
    const int height = hv->scaled.active() ? hv->scaled.height() : hv->height;
    hv->saver->SetFrameSize(static_cast<float>(width), static_cast<float>(height));
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
        platform::DestroyView(hv->view);
        hv->view = nullptr;
    }
}
