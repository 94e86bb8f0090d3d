// The desktop texture: the picture under the water, taken once when a view
// is created. The image comes from the first source that works (the
// session's picture of the desktop: a daemon's screenshot of the window,
// the root window, the compositor's; an image file the user
// names, a picture from a folder the user names, the built-in picture; a
// folder the user prefers to the desktop comes first); it is rescaled to a
// power-of-two size on the CPU and uploaded as one 2D texture in the view's
// context. Relies on the platform layer, OpenGL and GLU.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/session.h"
#include "view/desktop_privacy.h"

// Where the desktop image may come from.
enum class DesktopSource {
    Screenshot,  // the pixmap in the window's _SCREENSAVER_SCREENSHOT property
    Root,        // the main monitor's rectangle of the root window
    Compositor,  // the compositor's picture of the output (screencopy, the portal)
    ImageFile,   // an image file the user named
    Folder,      // a picture picked from a folder the user named
    BuiltIn,     // the built-in picture
};

// A short name for messages: "screenshot", "root window", "image file",
// "compositor", "picture folder", "built-in picture".
const char* DesktopSourceName(DesktopSource source);

struct DesktopSources {
    // The session whose desktop is shown (Session::ReadDesktop); null when
    // there is none to read.
    platform::Session* session = nullptr;
    // Where the view draws, for the session: the window whose screenshot
    // a daemon may have left, and in `screen` the monitor whose picture is
    // read. Views of one process all pass the main monitor's, so that every
    // view shows the main monitor.
    platform::ViewRequest where;
    // Why the desktop cannot be read without a session: the session's own
    // reason (a Wayland session's, say) in place of "there is no X
    // display". Said in the one line naming the picture shown.
    std::string noDesktop;
    // The main monitor: the size of the built-in picture (1280 × 720 when
    // it has no size) and the shape a folder's picture is letterboxed to.
    platform::ScreenInfo mainScreen;
    // An image file the user named; empty for none.
    std::string imageFile;
    // The image file replaces the desktop (--image): it comes first of all
    // and is used without a word when it can be read. Otherwise it stands
    // in when the desktop cannot be read.
    bool imageFileFirst = false;
    // A folder of pictures the user named; empty for none. One picture is
    // picked from it at random (from folderSeed), letterboxed to the main
    // monitor's shape.
    std::string imageFolder;
    uint32_t folderSeed = 0;
    // The user would rather see the folder's picture than the desktop: it
    // comes before the desktop (after the image file, which is more
    // particular). Otherwise it stands in when the desktop cannot be read.
    bool folderFirst = false;
    // What becomes of the desktop's picture (the screenshot or the root)
    // before it is shown (ProtectDesktopPicture); the user's pictures and
    // the built-in one are shown as they are.
    DesktopPrivacy privacy = DesktopPrivacy::AsItIs;
};

// Fills `image` from the first source that works, and returns which. The
// order: the session's picture (the screenshot, the root, the
// compositor's), the image file, the folder, the built-in picture; with
// folderFirst: the image file, the folder, the session's picture, the
// built-in picture; with imageFileFirst the image file comes
// before all of these. Tells the user (support/diagnostics.h) which source
// is used when it is not the session's (nor the image file put first),
// and, in one line each, why the file or the folder was passed over when
// it could not be used. A root that reads back entirely black (as under
// Wayland) counts as unreadable. The session's picture comes blurred or
// pixelated as sources.privacy says.
DesktopSource AcquireDesktopImage(const DesktopSources& sources, platform::RgbaImage* image);

// The folder the user prefers to the desktop (sources.folderFirst), alone:
// true when its picture is in `image` (said in one line, as
// AcquireDesktopImage says it); otherwise false, having said in one line
// why it cannot be used and that the desktop is shown instead.
bool AcquirePreferredFolderPicture(const DesktopSources& sources, platform::RgbaImage* image);

// The largest side an image file is loaded at for the main monitor
// `screen` (the larger of its sides): more only costs memory, and the
// texture is never larger than the screen needs.
int DesktopImageSideLimit(const platform::ScreenInfo& screen);

// The side of the desktop texture for one side of the image: 2 to the power
// of log2(side) rounded to the nearest integer (in double precision, so 724
// gives 512 and 725 gives 1024), at most `maxSide`. 0 for a side of 0.
uint32_t DesktopTextureSide(uint32_t side, uint32_t maxSide);

// Uploads a width × height RGBA image (bottom row first) as the desktop
// texture in the CURRENT context: sets GL_UNPACK_ALIGNMENT to 1 (it stays
// so), generates a texture name into *name if it is 0 (a non-zero name is
// reused), binds it to GL_TEXTURE_2D with GL_REPEAT wrapping and GL_LINEAR
// filters, rescales the image with gluScaleImage to the power-of-two size
// and uploads it as GL_RGBA8 level 0. The power-of-two size is that of
// `sidePercent` % of each side (1 ... 100): a view that only ever draws a
// reduced frame takes the texture at that frame's share, since a finer one
// is only sampled past, at the cost of memory and of the renderer's time.
// When the rescale or the upload fails (or the image is empty) the texture
// is deleted and *name becomes 0. Returns the GLU result of the rescale (0
// on success), GLU_OUT_OF_MEMORY when the renderer refused the texture.
int UploadDesktopTexture(uint32_t* name, const uint8_t* rgba, uint32_t width, uint32_t height,
                         int sidePercent = 100);

// Captures the desktop into the texture *name of `view`: acquires the image
// (AcquireDesktopImage), makes the view's context current and uploads it
// (UploadDesktopTexture). When the view's context cannot be made current,
// *name is left as it was. Runs once per view at creation: the rescale
// costs tens of milliseconds.
DesktopSource GetDesktopTexture(uint32_t* name, const DesktopSources& sources,
                                platform::View* view);

// The same with an image already acquired, for a process with several views
// (one per monitor): acquire once, before any window is mapped, then upload
// into each view. An image the renderer refuses is replaced by the built-in
// picture, with one line to the user. False, with *name left as it
// was, when the view's context cannot be made current. `sidePercent` as for
// UploadDesktopTexture.
bool GetDesktopTexture(uint32_t* name, const platform::RgbaImage& image, platform::View* view,
                       int sidePercent = 100);
