// The platform layer: every service of the Linux desktop that the saver uses,
// as free functions and plain structs. It may use support/ and the system's
// libraries, never the view or the program above it. Nothing here includes
// X11, GLX, EGL, Wayland, GLib or GTK. A View is a port (view_port.h) that each
// backend derives; so is a Session (session.h), the window system as the
// program's host sees it. The other headers of this folder declare the
// other services (the idle session, the power source, the settings dialog,
// ...). The folders below it fill them in, one room a service, as
// src/platform/CMakeLists.txt lists them; this header's sections come from
// headless/ (the clock, the screens, the View functions and headless views,
// the bundle), x11/ (the image presenter), pictures/ (images), toolkit/
// (the language, the desktop UI) and config/ (the settings store).
//
// Handles (View, ImagePresenter, SettingsStore) are owned by the caller, who
// releases them with the matching Destroy/Close function. Everything runs on
// one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// ---------------------------------------------------------------- clock

// Seconds from a monotonic clock (CLOCK_MONOTONIC). Only differences mean
// anything; the origin is arbitrary but positive.
double ClockSeconds();

// ---------------------------------------------------------------- images

// width × height pixels, 4 bytes each in the order R, G, B, A, rows packed
// (4 × width bytes), bottom row first, as OpenGL reads and uploads them.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// Decodes a PNG or JPEG file (told by its signature, whatever its name)
// into `image`, turned upright as a JPEG's EXIF orientation says, each
// side scaled down while it loads to at most `maxSide` pixels. Only a
// regular file of at most 1 GiB is read (opened without blocking), and
// only when what its header declares decodes to at most 250 million pixels
// before the scaling (a JPEG decodes at 1/2, 1/4 or 1/8 of its size where
// that is enough), within 1 GiB with the coefficients of a JPEG decoded
// whole (2 bytes a sample of each component), and at the size the decoder
// itself then reads. False with a message in `error` when the file cannot
// be read or is refused.
bool LoadImageFile(const char* path, int maxSide, RgbaImage* image, std::string* error);
// The same, keeping the picture's aspect: scaled down while it loads, by
// one factor for both sides, so that upright it fits in maxWidth ×
// maxHeight pixels.
bool LoadImageFileWithin(const char* path, int maxWidth, int maxHeight, RgbaImage* image,
                         std::string* error);

// ---------------------------------------------------------------- windows

// A window id of the window system (an X window's XID); 0 means none.
using WindowId = unsigned long;

// ---------------------------------------------------------------- screens

// One monitor, in root-window pixels. `number` is stable for a monitor while
// the program runs (its first output's id, else its index + 1); two screens
// are the same when their numbers are equal.
struct ScreenInfo {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int number = 0;
    bool primary = false;
};

// Without a display: one primary screen of the given size at the origin.
std::vector<ScreenInfo> HeadlessScreens(int width, int height);
// The primary screen, or the first when none is primary. A zero-sized screen
// for an empty list.
ScreenInfo MainScreen(const std::vector<ScreenInfo>& screens);
// The screen that holds the centre of the rectangle (root pixels), else the
// one it overlaps most, else the main screen.
ScreenInfo ScreenOfRectangle(const std::vector<ScreenInfo>& screens, int x, int y, int width,
                             int height);
// ---------------------------------------------------------------- views

// Where a view draws.
enum class ViewKind {
    TopLevel,    // a new resizable top-level window of width × height
    FullScreen,  // a new borderless window covering `screen`
    Root,        // the real root window of the default screen
    Foreign,     // an existing window `foreign`, owned by another program
                 // (-window-id, or $XSCREENSAVER_WINDOW with -root)
    Offscreen,   // a headless buffer of width × height
};

struct ViewRequest {
    ViewKind kind = ViewKind::TopLevel;
    int width = 1280;  // TopLevel, Offscreen
    int height = 720;
    bool hasPosition = false;  // TopLevel: place it at (x, y) of the root
    int x = 0;
    int y = 0;
    // FullScreen: the output covered; elsewhere the monitor whose picture
    // the view shows.
    ScreenInfo screen;
    WindowId foreign = 0;  // Foreign
    std::string title = "Mereglass";
};

// An OpenGL context with a drawable: a GLX window or a headless EGL buffer.
struct View;

// A headless context (EGL on Mesa's surfaceless platform, desktop OpenGL,
// compatibility profile) drawing into an offscreen 8-bit RGBA colour buffer
// with a 24-bit depth buffer of width × height; made current. Null, with a
// reason, when no context can be made.
View* CreateHeadlessView(int width, int height, std::string* error);
// Releases the context and any window the program created for it.
void DestroyView(View* view);

// Makes the view's context current on this thread. False when the window is
// gone or the call fails.
bool MakeViewCurrent(View* view);
// Maps a window the program created (top-level or full-screen) and raises
// it; does nothing for root, foreign and headless views.
void ShowView(View* view);
// Resizes the drawable: a window the program created is resized on the
// server; a headless buffer is replaced (contents undefined). Root and
// foreign windows are sized by their owners: false.
bool ResizeView(View* view, int width, int height);
// The drawable's size in pixels. For windows this asks the server (a round
// trip): call it when a size change is announced, not every frame.
void ViewSize(View* view, int* width, int* height);
// Makes the frame visible: a buffer swap on a double-buffered window,
// glFlush otherwise.
void PresentView(View* view);

// A frame presented from the program's own pixels, put straight into a
// window view's window (through shared memory where the X server offers
// it), instead of a buffer swap. For a saver that draws a reduced frame:
// stretching it on the processor costs a fraction of stretching it with a
// software renderer. The presenter holds a band of rows, put into the
// window one after the other: a quarter of the frame's memory, and a band
// the server reads while it is still in the processor's cache.
struct ImagePresenter;
// A presenter for bands of width × rows pixels on the window of `view`.
// Null when the view is headless, or the window's visual does not take
// 32-bit pixels with 8-bit blue, green and red in the bytes 0, 1 and 2.
ImagePresenter* CreateImagePresenter(View* view, int width, int rows);
void DestroyImagePresenter(ImagePresenter* presenter);
// The pixels to fill before PresentImage: width × rows, 4 bytes each in
// the order B, G, R, unused; rows packed, top row first.
uint32_t* ImagePresenterPixels(ImagePresenter* presenter);
// Puts the first `rows` rows of the pixels (at most the presenter's) into
// the window from row `top` down, and waits until the server has taken
// them (so they may be overwritten).
void PresentImage(ImagePresenter* presenter, int top, int rows);
// The colour buffer as RGBA bytes, bottom row first (glReadPixels of the
// back buffer, after glFinish). The view's context must be current.
bool ReadViewPixels(View* view, RgbaImage* image);
// True once the view's window was destroyed under the program.
bool ViewLost(const View* view);
// Makes the drawable width × height pixels, which the compositor stretches
// over the whole window at no cost to the program (a Wayland view where
// the compositor offers viewports), from the next present on; ViewSize
// then gives that size. False, with the drawable unchanged, for other
// views: X11 and headless ones.
bool ScaleViewBuffer(View* view, int width, int height);
// Paces the view's presents to the display's refresh, so that it never
// shows more frames than the screen does: a swap interval of 1 on GLX
// (GLX_EXT_swap_control or GLX_MESA_swap_control, looked up when called).
// A Wayland view is paced by its frame callbacks already (true). False
// where nothing paces it: headless views, GLX without either extension.
// For a graphics card; the view's context must be current.
bool SyncViewToRefresh(View* view);
// Asks a software renderer to draw on the thread that flushes, with no
// threads of its own (Mesa's llvmpipe, through LP_NUM_THREADS unless the
// user set it). At a steady, reduced frame rate that costs about a tenth
// less of the processor than handing each frame between the driver's
// threads. Before the process's first view; a graphics card ignores it.
void DrawOnOneThread();
// While `off` holds, the view's context is made current on a 1 × 1
// drawable of its own (a GLX pixmap) instead of the window, from now on:
// for a view that draws into a frame of the program's and puts it into the
// window as pixels (ImagePresenter), so that the renderer keeps no buffers
// the size of the window. Makes the context current; false, with nothing
// changed, for views without a GLX window (Wayland, headless) or when the
// drawable cannot be made.
bool DrawViewOffWindow(View* view, bool off);

// ---------------------------------------------------------------- bundle

// The path of the resource `name`.`type` ("murkle", "respak"): beside the
// executable (the build tree), else in the installed data directory. Empty
// when neither exists.
std::string BundleResourcePath(const char* name, const char* type);

// The folder of the translation catalogues (<dir>/<language>/LC_MESSAGES/
// mereglass.mo): "locale" beside the executable (the build tree), else the
// installed tree's share/locale, found from the program's place as the
// resources are, else the configured locale directory.
std::string BundleLocaleDirectory();

// ---------------------------------------------------------------- language

// Takes the user's language for messages and character type from the
// environment (LC_ALL, LC_MESSAGES, LANG, LANGUAGE) and binds the program's
// text domain to BundleLocaleDirectory(), in UTF-8. The numeric locale stays
// "C": GTK is told not to set the whole locale when it starts. Call first
// thing in main; without a catalogue for the language, texts stay English.
void UseUserLanguage();

// ---------------------------------------------------------------- desktop UI

// Opens `uri` in the user's browser without waiting for it: GLib's default
// handler, else xdg-open. False when neither could be started.
bool OpenWebPage(const char* uri);

// Shows a modal GTK message box (caption, text) and waits for the user. For
// the configuration program only: the saver itself must never block on a
// dialog. False, without showing anything, when GTK has no display.
bool ShowAlertDialog(const char* caption, const char* text);

// ---------------------------------------------------------------- settings

// A per-module store of string, bool and integer values: a GLib key file at
// $XDG_CONFIG_HOME/mereglass/<module>.conf (~/.config when unset), in the
// group named after the module.
struct SettingsStore;

// Opens and reads the store. Never null. Only a regular file of at most
// 1 MiB is read (opened without blocking, so a pipe in its place cannot
// hang the program). Anything else that is there, and a file that cannot
// be parsed, is moved aside to "<file>.bad" ("<file>.bad.1" ... when that
// is taken; an earlier copy is never replaced) with one line to the user
// (Tell), and the store starts empty. When five copies exist already, the
// move fails, the file is read-only (no write permission in its mode, which
// holds for root too) or a symbolic link (which stays, as does whatever it
// names), the file is left as it is and the store never writes it.
SettingsStore* OpenSettingsStore(const char* module);
// Reads the store's file again, as opening does, dropping what was read
// and not written: for a process that follows changes others make.
void ReloadSettingsStore(SettingsStore* store);
void CloseSettingsStore(SettingsStore* store);
// The file the store reads and writes.
const std::string& SettingsStorePath(const SettingsStore* store);
// Before the store's file is written over: keeps the bytes read at opening
// as a new file "<file>.<suffix>" (numbered like the .bad copies, never
// replacing one). True when the file may be written: `keptAs` names the
// copy, or is empty when there was nothing to keep (no file, an empty
// one). False when it must be left as it is (no copy could be made, or it
// was left alone when opened, or the file is read-only); `error` then says
// why, or is empty when that was said at opening. From then on the store
// never writes the file.
bool StoreKeepFile(SettingsStore* store, const char* suffix, std::string* keptAs,
                   std::string* error);

// Readers: an absent key (or a value of another type) reads as no string
// (false), false and 0.
bool StoreString(const SettingsStore* store, const char* key, std::string* value);
bool StoreBool(const SettingsStore* store, const char* key);
int32_t StoreInteger(const SettingsStore* store, const char* key);
void StoreSetString(SettingsStore* store, const char* key, const char* value);
void StoreSetBool(SettingsStore* store, const char* key, bool value);
void StoreSetInteger(SettingsStore* store, const char* key, int32_t value);
// A file name of any bytes the file system allows. One that is UTF-8 is
// stored as it is (as a string); any other as a file: URI, its bytes in
// %-escapes (a relative one made absolute first). The reader takes both,
// and the raw bytes of a name written by an older build. False when the
// key is absent.
bool StoreFileName(const SettingsStore* store, const char* key, std::string* value);
void StoreSetFileName(SettingsStore* store, const char* key, const std::string& value);
// Writes the store to its file atomically (a temporary file renamed over
// it, with the mode of the file it replaces). When the file is a symbolic
// link, the file it names is written and the link stays. False, with a
// message to the user (Tell), when it cannot (also for a file the store
// leaves alone, a read-only one, or one that is not a regular file).
bool StoreSynchronize(SettingsStore* store);

// The address the Web site button opens.
extern const char* const kWebPage;

}  // namespace platform
