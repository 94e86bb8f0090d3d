// ScaledFrame: the offscreen frame and its stretch. Relies on OpenGL 3.0's
// framebuffer objects, called through their exported entry points.
#define GL_GLEXT_PROTOTYPES 1
#include "app/scaled_frame.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

int ScaledSide(int side, int percent) {
    const long scaled = static_cast<long>(side) * percent / 100;
    return scaled < 1 ? 1 : static_cast<int>(scaled);
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

    GLuint names[1] = {0};
    glGenRenderbuffers(1, names);
    colour_ = names[0];
    glBindRenderbuffer(GL_RENDERBUFFER, colour_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width_, height_);
    glGenRenderbuffers(1, names);
    depth_ = names[0];
    glBindRenderbuffer(GL_RENDERBUFFER, depth_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width_, height_);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);

    glGenFramebuffers(1, names);
    framebuffer_ = names[0];
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_);
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
    const GLuint renderbuffers[2] = {colour_, depth_};
    if (colour_ != 0 || depth_ != 0) glDeleteRenderbuffers(2, renderbuffers);
    framebuffer_ = colour_ = depth_ = 0;
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

void ScaledFrame::Stretch() const {
    if (framebuffer_ == 0) return;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glBlitFramebuffer(0, 0, width_, height_, 0, 0, windowWidth_, windowHeight_, GL_COLOR_BUFFER_BIT,
                      GL_LINEAR);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}
