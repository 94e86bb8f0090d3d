// MereglassView: the saver's view. It captures the desktop at creation, sets
// up OpenGL and the scene driver on its first tick, feeds the scene with time
// steps, and tears it down in its own context. Relies on the scene driver
// (scene/scene.h), the texture loader (resources/textures.h) and the platform
// services of its ViewPlatform seam; includes no X11, GLX or EGL.
//
// The view layer (src/view/): the saver's view, desktop capture and
// pictures. It may use the settings, the scene and the layers below it, and
// the platform layer; never the host, the program nor any window-system
// header.
//
// Calling contract. A host drives each view with these calls, in this order,
// all on one thread:
//
//   InitWithFrame(frame, preview)  once. Reads the settings, captures the
//                                  desktop into DeskTex (in the view's own
//                                  context), sets the tick period to 1/60 s.
//                                  False: the view is unusable; only Dealloc
//                                  may follow.
//   SetFrameSize(w, h)             whenever the drawable changes size, also
//                                  before the first start. Touches no OpenGL.
//   StartAnimation()               applies the main-screen rule and clears
//                                  the drawable to black (presented).
//   AnimateOneFrame()              every AnimationTimeInterval() seconds
//                                  while IsAnimating(). Returns in a fraction
//                                  of a second; never waits. The first tick
//                                  sets up OpenGL and the scene and draws
//                                  nothing; later ticks draw when more than
//                                  0.01 s and at most 2.0 s have passed since
//                                  the last step, and present only then. It
//                                  may clear IsAnimating() (a screen the view
//                                  is not to run on).
//   StopAnimation()                any time; releases nothing, so Start may
//                                  follow again. A pause of more than 2 s
//                                  only re-bases the clock on the next tick.
//   Dealloc()                      once, last. Releases the scene, its
//                                  textures and the desktop texture in the
//                                  view's own context.
//
// What each call may assume: the ViewPlatform outlives the view and its
// MakeCurrent selects this view's context whichever view ran before; every
// call that issues OpenGL makes the context current first, so several views
// may share one thread. Nothing here allocates per tick.
//
// Ownership: the view owns its scene driver (ssMain). It owns the desktop
// texture (DeskTex) until the scene set-up hands it to the scene driver
// (whether or not the archive's pictures could be loaded), which deletes it
// in Cleanup; when the set-up never hands it over (no scene driver), Dealloc
// deletes it. The platform owns the drawable and the context.
#pragma once

#include <cstdint>

#include "scene/settings.h"
#include "settings/settings_table.h"
#include "view/screen_saver_view.h"

class SSMAIN;
struct WaterFrame;

// The child drawing view: the drawable and context the platform provides.
struct OpenGLView {
    ViewPlatform* platform = nullptr;
    float width = 0.0f;  // pixels; 0 until the first SetFrameSize
    float height = 0.0f;

    bool MakeCurrentContext() const { return platform->MakeCurrent(); }
    void SetFrameSize(float w, float h);
};

class MereglassView : public ScreenSaverView {
public:
    bool MainMonitorOnly = false;
    bool ThisScreenIsOn = false;
    OpenGLView glView;
    uint8_t viewAllocated = 0;
    uint8_t glReady = 0;
    uint8_t initialized = 0;
    SETTINGS mySettings{};
    double animtime = 0.0;                // clock reading at the last time step, seconds
    NSRect Scrn{0.0f, 0.0f, 0.0f, 0.0f};  // size at creation and last GlInit
    SSMAIN* ssMain = nullptr;             // owned; null until the first tick
    uint32_t DeskTex = 0;                 // desktop texture; see Ownership above
    // View pixels per point of the overlay (the screen's scale factor times
    // the view's own); handed to the scene driver. See SetOverlayScale.
    float overlayScale = 1.0f;

    explicit MereglassView(ViewPlatform* services);
    ~MereglassView() override;

    bool InitWithFrame(NSRect frame, bool isPreview) override;
    void SetFrameSize(float width, float height) override;
    void StartAnimation() override;
    void StopAnimation() override;
    void AnimateOneFrame() override;
    void Dealloc() override;

    // Sets overlayScale, for the scene driver that exists and any made later.
    // Touches no OpenGL.
    void SetOverlayScale(float scale);
    // A touch at (x, y), pixels of what the view draws into from its
    // top-left corner (a click, or with `trail` a drag): a drip on the
    // water's grid point under it. A drag drips only when it reaches
    // another grid point than the latest touch, so that a trail has at
    // most one drip per point it crosses. Nothing before the scene is set
    // up, or off the water. Touches no OpenGL.
    void TouchWater(float x, float y, bool trail);
    // Where the scene draws the water on the processor (null: through the
    // renderer), for the scene driver that exists and any made later. Not
    // owned. Touches no OpenGL.
    void SetWaterFrame(WaterFrame* frame);

    // The host does not fade the display's gamma: always false.
    static bool PerformGammaFade() { return false; }
    // Desktop image into *name (see ViewPlatform::CaptureDesktop).
    void GetDesktopTexture(uint32_t* name);
    // Scene set-up of the first tick. False when the scene driver or the
    // archive's textures could not be set up (the loop carries on). The
    // desktop texture goes to a scene driver that was set up, and the clock
    // starts, even when the archive is missing or damaged; a damaged one is
    // named in one line to the user (Tell).
    bool MainSetup();
    void GlInit();
    void GlReshape();

private:
    bool deallocated_ = false;
    WaterFrame* waterFrame_ = nullptr;
    // The grid point of the latest touch (-1: none).
    int touchColumn_ = -1;
    int touchRow_ = -1;
};
