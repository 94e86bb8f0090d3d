// ScreenSaverView: the engine's view base class as our host provides it, and
// ViewPlatform, the seam through which a view reaches every platform service
// (clock, its OpenGL context, screens, bundle, settings, desktop
// image). The host fills a ViewPlatform with real services; tests fill it
// with fakes and a scripted clock. Includes no X11, GLX or EGL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

struct SETTINGS;
struct UserSettings;

// A rectangle in pixels: origin and size, 32-bit floats.
struct NSRect {
    float x, y, width, height;
};

// The services a view uses. Every member must be set before the view is
// created; the host and the tests own the objects the functions refer to.
struct ViewPlatform {
    // Seconds as a double on a clock that never goes back. Only differences
    // matter, apart from the random seed (whole seconds of a reading).
    std::function<double()> Clock;
    // Makes the view's own OpenGL context current on this thread. False when
    // that is impossible (the drawable is gone): the view then draws
    // nothing, and at tear-down only releases its scene, whose deletes of
    // OpenGL names go to whatever context is current (the host ends the
    // program when a drawable is lost, so that is the view's own or none).
    std::function<bool()> MakeCurrent;
    // Shows the frame drawn since the last present: a buffer swap on a
    // double-buffered drawable, nothing more on a single-buffered one (the
    // view has already called glFlush).
    std::function<void()> Present;
    // Gives the drawable behind the view a new size in pixels.
    std::function<void(int width, int height)> ResizeDrawable;
    // Number of the screen the view's window is on, and of the main screen.
    // Equal numbers mean the same screen.
    std::function<int()> ScreenNumber;
    std::function<int()> MainScreenNumber;
    // Writes the zero-terminated path of the bundle resource name.type into
    // buffer (size bytes, terminator included). False, with an empty string,
    // when there is no such resource or the path does not fit.
    std::function<bool(const char* name, const char* type, char* buffer, size_t size)> BundlePath;
    // Reads the user settings (with the store's version rule), of which the
    // view keeps its own (MainMonitorOnly) and the scene's record. Reads
    // only: whatever else the host makes of the settings it decides itself.
    std::function<void(UserSettings* settings)> ReadSettings;
    // Captures the main display into the OpenGL texture *name in the view's
    // context (0 on entry: a name is generated). Leaves *name as it was when
    // no image can be had, and sets it to 0 when the upload fails.
    std::function<void(uint32_t* name)> CaptureDesktop;
};

// The base class of a saver view: its frame, preview flag, screen, animation
// interval and running flag. The host's loop calls AnimateOneFrame every
// AnimationTimeInterval() seconds while IsAnimating() holds.
class ScreenSaverView {
public:
    // Platform services; not owned. Set by the constructor.
    ViewPlatform* platform;

    explicit ScreenSaverView(ViewPlatform* services);
    virtual ~ScreenSaverView() = default;
    ScreenSaverView(const ScreenSaverView&) = delete;
    ScreenSaverView& operator=(const ScreenSaverView&) = delete;

    // Records the frame and the preview flag. False when the frame is empty
    // or not finite (the view is then unusable).
    virtual bool InitWithFrame(NSRect frame, bool isPreview);
    // Records a new size in pixels.
    virtual void SetFrameSize(float width, float height);
    // Sets and clears the running flag that the host's loop honours.
    virtual void StartAnimation();
    virtual void StopAnimation();
    // Releases what the base holds (nothing but the subview link).
    virtual void Dealloc();
    // One tick; the base does nothing.
    virtual void AnimateOneFrame() {}

    bool IsPreview() const { return preview_; }
    bool IsAnimating() const { return animating_; }
    // The view's own rectangle: origin 0, size in pixels.
    NSRect Bounds() const { return NSRect{0.0f, 0.0f, frame_.width, frame_.height}; }
    // Tick period in seconds.
    double AnimationTimeInterval() const { return interval_; }
    void SetAnimationTimeInterval(double seconds) { interval_ = seconds; }
    // The screen the view's window is on, and the main screen.
    int ScreenNumber() const { return platform->ScreenNumber(); }
    int MainScreenNumber() const { return platform->MainScreenNumber(); }
    // Whether the child drawing view has been added.
    bool HasSubview() const { return hasSubview_; }
    void AddSubview() { hasSubview_ = true; }

private:
    NSRect frame_{0.0f, 0.0f, 0.0f, 0.0f};
    bool preview_ = false;
    bool animating_ = false;
    bool hasSubview_ = false;
    double interval_ = 1.0 / 30.0;
};
