// ScaledFrame: the offscreen frame and its stretch. Relies on OpenGL 3.0's
// framebuffer objects, called through their exported entry points.
#define GL_GLEXT_PROTOTYPES 1
#include "host/scaled_frame.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

int ScaledSide(int side, int percent) {
    const long scaled = static_cast<long>(side) * percent / 100;
    return scaled < 1 ? 1 : static_cast<int>(scaled);
}

int ReducedPercent(int width, int height) {
    const int shorter = width < height ? width : height;
    return ScaledSide(shorter, 50) > kMostReducedRows ? 25 : 50;
}

bool IsSoftwareRenderer(const char* renderer) {
    if (renderer == nullptr) return false;
    for (const char* name : {"llvmpipe", "softpipe", "swrast", "Software Rasterizer"}) {
        if (std::strstr(renderer, name) != nullptr) return true;
    }
    return false;
}

bool ScaledFrame::Supported() {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 0;
    if (version != nullptr && std::sscanf(version, "%d", &major) == 1 && major >= 3) return true;
    const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    return extensions != nullptr && std::strstr(extensions, "GL_ARB_framebuffer_object") != nullptr;
}

bool ScaledFrame::Create(int windowWidth, int windowHeight, int percent) {
    Destroy();
    width_ = ScaledSide(windowWidth, percent);
    height_ = ScaledSide(windowHeight, percent);
    windowWidth_ = windowWidth;
    windowHeight_ = windowHeight;

    // A texture of unsized RGBA rather than a renderbuffer: the renderer
    // keeps it in the order of the bytes it is made from, the window's, and
    // the read-back is a copy. (An RGBA8 renderbuffer is kept R, G, B, A, and
    // reading it back as B, G, R, A costs a software renderer more than
    // twice the copy.)
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    GLuint names[1] = {0};
    glGenTextures(1, names);
    colour_ = names[0];
    glBindTexture(GL_TEXTURE_2D, colour_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width_, height_, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));

    glGenFramebuffers(1, names);
    framebuffer_ = names[0];
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour_, 0);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!complete || glGetError() != GL_NO_ERROR) {
        Destroy();
        return false;
    }
    return true;
}

void ScaledFrame::Destroy() {
    if (framebuffer_ != 0) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        const GLuint fb = framebuffer_;
        glDeleteFramebuffers(1, &fb);
    }
    if (colour_ != 0) {
        const GLuint texture = colour_;
        glDeleteTextures(1, &texture);
    }
    framebuffer_ = colour_ = 0;
}

void ScaledFrame::Bind() const {
    if (framebuffer_ != 0) glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
}

void ScaledFrame::ReadPixels(uint32_t* pixels) const {
    if (framebuffer_ == 0) return;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void ScaledFrame::Upload(const uint32_t* pixels) const {
    if (colour_ == 0) return;
    GLint bound = 0, alignment = 4;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glBindTexture(GL_TEXTURE_2D, colour_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
}

void ScaledFrame::Stretch(bool topFirst) const {
    if (framebuffer_ == 0) return;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    // A frame of the window's size is copied: the renderer takes its
    // quickest path for a blit that only picks pixels.
    const GLenum filter =
        width_ == windowWidth_ && height_ == windowHeight_ ? GL_NEAREST : GL_LINEAR;
    const int bottom = topFirst ? height_ : 0;
    glBlitFramebuffer(0, bottom, width_, height_ - bottom, 0, 0, windowWidth_, windowHeight_,
                      GL_COLOR_BUFFER_BIT, filter);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}
