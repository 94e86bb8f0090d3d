// Desktop capture: choosing the image source, rounding to a power-of-two
// size, rescaling with GLU and uploading. Relies on the platform's session
// for the desktop's own picture and on the platform layer for image files, view/picture_folder.h
// for the folder's picture, support/diagnostics.h to tell the user, and on OpenGL and GLU.
#include "view/desktop_capture.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <string>

#include "support/diagnostics.h"
#include "support/translation.h"
#include "view/built_in_picture.h"
#include "view/picture_folder.h"

const char* DesktopSourceName(DesktopSource source) {
    switch (source) {
        case DesktopSource::Screenshot:
            return "screenshot";
        case DesktopSource::Root:
            return "root window";
        case DesktopSource::Compositor:
            return "compositor";
        case DesktopSource::ImageFile:
            return "image file";
        case DesktopSource::Folder:
            return "picture folder";
        case DesktopSource::BuiltIn:
            return "built-in picture";
    }
    return "?";
}

namespace {

// The main monitor's size; 1280 × 720 when it has none (or an absurd one).
void BuiltInPictureSize(const platform::ScreenInfo& screen, int* w, int* h) {
    *w = screen.width;
    *h = screen.height;
    if (*w <= 0 || *h <= 0 || *w > 16384 || *h > 16384) {
        *w = 1280;
        *h = 720;
    }
}

bool AllBlack(const platform::RgbaImage& image) {
    const std::vector<uint8_t>& p = image.pixels;
    for (size_t i = 0; i + 3 < p.size(); i += 4) {
        if (p[i] | p[i + 1] | p[i + 2]) return false;
    }
    return true;
}

// One pass through the order of sources. Each of the user's pictures is
// tried once, first or as a stand-in for the desktop.
struct Capture {
    const DesktopSources& sources;
    platform::RgbaImage* image;
    int width = 0;  // the main monitor's size (BuiltInPictureSize)
    int height = 0;
    bool fileTried = false;
    bool folderTried = false;
};

// The image file: true when it is read into the image. `why` it is shown
// is said with its name (null: nothing is said); a file that cannot be
// used is named in one line with the reason.
bool TryImageFile(Capture* c, const char* why) {
    if (c->fileTried || c->sources.imageFile.empty()) return false;
    c->fileTried = true;
    const std::string& file = c->sources.imageFile;
    std::string error;
    if (platform::LoadImageFile(file.c_str(), std::max(c->width, c->height), c->image, &error)) {
        if (why != nullptr) {
            Tell(Format(_("desktop image from %s (%s)"), DisplayName(file).c_str(), _(why)));
        }
        return true;
    }
    Tell(Format(_("cannot use the image %s: %s"), DisplayName(file).c_str(), error.c_str()));
    return false;
}

// A picture from the folder: true when one is read into the image. `why` it
// is shown is said with the picture's name; a folder that cannot be used is
// named in one line with the reason, and so is a missing one the user
// prefers to the desktop.
bool TryFolder(Capture* c, const char* why) {
    if (c->folderTried) return false;
    c->folderTried = true;
    const DesktopSources& sources = c->sources;
    if (sources.imageFolder.empty()) {
        if (sources.folderFirst) Tell(_("no picture folder is chosen; showing the desktop"));
        return false;
    }
    std::string path, error;
    if (PickFolderPicture(sources.imageFolder, c->width, c->height, sources.folderSeed, c->image,
                          &path, &error)) {
        Tell(Format(_("desktop image from %s (%s)"), DisplayName(path).c_str(), _(why)));
        return true;
    }
    const std::string folder = DisplayName(sources.imageFolder);
    Tell(sources.folderFirst
             ? Format(_("cannot use the picture folder %s: %s; showing the desktop"),
                      folder.c_str(), error.c_str())
             : Format(_("cannot use the picture folder %s: %s"), folder.c_str(), error.c_str()));
    return false;
}

// The desktop's own picture from the session, when it has one; else
// BuiltIn, with *missing saying why it has none.
DesktopSource ReadDesktop(const DesktopSources& sources, platform::RgbaImage* image,
                          std::string* missing) {
    *missing = sources.noDesktop.empty() ? N_("there is no X display") : sources.noDesktop;
    if (sources.session == nullptr) return DesktopSource::BuiltIn;
    switch (sources.session->ReadDesktop(sources.where, image, missing)) {
        case platform::DesktopRead::Screenshot:
            return DesktopSource::Screenshot;
        case platform::DesktopRead::Root:
            if (!AllBlack(*image)) return DesktopSource::Root;
            *missing = N_("the root window reads back black");
            return DesktopSource::BuiltIn;
        case platform::DesktopRead::Screencopy:
        case platform::DesktopRead::Portal:
            return DesktopSource::Compositor;
        case platform::DesktopRead::Missing:
            break;
    }
    return DesktopSource::BuiltIn;
}

}  // namespace

DesktopSource AcquireDesktopImage(const DesktopSources& sources, platform::RgbaImage* image) {
    Capture c{sources, image};
    BuiltInPictureSize(sources.mainScreen, &c.width, &c.height);
    const char* const preferred = N_("instead of the desktop");

    if (sources.imageFileFirst && TryImageFile(&c, nullptr)) return DesktopSource::ImageFile;
    if (sources.folderFirst) {
        if (TryImageFile(&c, preferred)) return DesktopSource::ImageFile;
        if (TryFolder(&c, preferred)) return DesktopSource::Folder;
    }

    std::string missing;
    const DesktopSource desktop = ReadDesktop(sources, image, &missing);
    if (desktop != DesktopSource::BuiltIn) {
        ProtectDesktopPicture(sources.privacy, image);
        return desktop;
    }

    if (TryImageFile(&c, missing.c_str())) return DesktopSource::ImageFile;
    if (TryFolder(&c, missing.c_str())) return DesktopSource::Folder;

    DrawBuiltInPicture(c.width, c.height, image);
    Tell(Format(_("showing the built-in picture (%s)"), _(missing.c_str())));
    return DesktopSource::BuiltIn;
}

bool AcquirePreferredFolderPicture(const DesktopSources& sources, platform::RgbaImage* image) {
    Capture c{sources, image};
    BuiltInPictureSize(sources.mainScreen, &c.width, &c.height);
    return sources.folderFirst && TryFolder(&c, N_("instead of the desktop"));
}

int DesktopImageSideLimit(const platform::ScreenInfo& screen) {
    int w = 0, h = 0;
    BuiltInPictureSize(screen, &w, &h);
    return std::max(w, h);
}

uint32_t DesktopTextureSide(uint32_t side, uint32_t maxSide) {
    // The exponent is rounded in the logarithmic domain, in double. A side
    // of 0 gives log = -inf and 2^-inf = 0; the power is compared before it
    // is converted, so no huge side overflows.
    const double n = std::floor(std::log(static_cast<double>(side)) / std::log(2.0) + 0.5);
    const double pot = std::pow(2.0, n);
    if (pot > static_cast<double>(maxSide)) return maxSide;
    return static_cast<uint32_t>(pot);
}

namespace {

// `percent` % of a side, at least 1 (0 stays 0: an empty image).
uint32_t ShareOfSide(uint32_t side, int percent) {
    if (percent >= 100 || percent < 1 || side == 0) return side;
    const uint64_t share = uint64_t{side} * static_cast<uint64_t>(percent) / 100;
    return share < 1 ? 1 : static_cast<uint32_t>(share);
}

}  // namespace

int UploadDesktopTexture(uint32_t* name, const uint8_t* rgba, uint32_t width, uint32_t height,
                         int sidePercent) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);

    if (*name == 0) glGenTextures(1, name);
    glBindTexture(GL_TEXTURE_2D, *name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);

    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    const uint32_t texW =
        DesktopTextureSide(ShareOfSide(width, sidePercent), static_cast<uint32_t>(maxSize));
    const uint32_t texH =
        DesktopTextureSide(ShareOfSide(height, sidePercent), static_cast<uint32_t>(maxSize));

    // GLU accepts an empty image as a success with nothing to do; an empty
    // desktop texture is a failed capture all the same.
    int result = GLU_INVALID_VALUE;
    std::unique_ptr<uint8_t[]> scaled;
    if (texW > 0 && texH > 0 && rgba) {
        scaled.reset(new (std::nothrow) uint8_t[size_t{texW} * texH * 4]);
        result = scaled
                     ? gluScaleImage(GL_RGBA, static_cast<GLint>(width), static_cast<GLint>(height),
                                     GL_UNSIGNED_BYTE, rgba, static_cast<GLint>(texW),
                                     static_cast<GLint>(texH), GL_UNSIGNED_BYTE, scaled.get())
                     : GLU_OUT_OF_MEMORY;
    }
    if (result == 0) {
        // A renderer may refuse a texture it advertised (out of memory); it
        // says so only through glGetError.
        while (glGetError() != GL_NO_ERROR) {
        }
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, static_cast<GLsizei>(texW),
                     static_cast<GLsizei>(texH), 0, GL_RGBA, GL_UNSIGNED_BYTE, scaled.get());
        if (glGetError() != GL_NO_ERROR) result = GLU_OUT_OF_MEMORY;
    }
    if (result != 0) {
        // The name is handed back as 0; the empty texture would only leak.
        glBindTexture(GL_TEXTURE_2D, 0);
        glDeleteTextures(1, name);
        *name = 0;
    }
    return result;
}

DesktopSource GetDesktopTexture(uint32_t* name, const DesktopSources& sources,
                                platform::View* view) {
    platform::RgbaImage image;
    const DesktopSource source = AcquireDesktopImage(sources, &image);
    GetDesktopTexture(name, image, view);
    return source;
}

bool GetDesktopTexture(uint32_t* name, const platform::RgbaImage& image, platform::View* view,
                       int sidePercent) {
    if (!platform::MakeViewCurrent(view)) return false;
    const int result =
        UploadDesktopTexture(name, image.pixels.data(), static_cast<uint32_t>(image.width),
                             static_cast<uint32_t>(image.height), sidePercent);
    if (result != 0 && !image.pixels.empty()) {
        // The picture was there but the renderer would not take it: the
        // built-in one is small enough for any renderer.
        Tell(Format(_("the %dx%d picture cannot be made into a texture; showing the built-in "
                      "picture"),
                    image.width, image.height));
        platform::RgbaImage builtIn;
        DrawBuiltInPicture(1280, 720, &builtIn);
        UploadDesktopTexture(name, builtIn.pixels.data(), 1280, 720, sidePercent);
    }
    return true;
}
