// FakePlatform: a ViewPlatform for tests. A real headless OpenGL context
// (fixtures/headless_gl.h) stands in for the view's drawable, the clock reads
// a value the test sets, and every service call is logged by name so a test
// can check the order of a view's calls.
#pragma once

#include <GL/gl.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "headless_gl.h"
#include "scene/settings.h"
#include "settings/settings_table.h"
#include "view/screen_saver_view.h"

struct FakePlatform {
    HeadlessGL gl;
    ViewPlatform services;
    std::vector<std::string> log;

    double now = 1000.5;           // what the clock reads
    int screen = 1;                // the view's screen
    int mainScreen = 1;            // the main screen
    std::string archive;           // the bundle's archive; empty: none
    bool mainMonitorOnly = false;  // what the store holds
    SETTINGS settings{true, true, 100, 6, 250, false};
    bool contextLost = false;   // MakeCurrent fails
    bool captureFails = false;  // no desktop image
    uint32_t capturedName = 0;  // the texture the capture made

    FakePlatform(int width, int height) : gl(width, height) {
        services.Clock = [this] {
            log.push_back("clock");
            return now;
        };
        services.MakeCurrent = [this] {
            log.push_back("current");
            if (contextLost) return false;
            gl.MakeCurrent();
            return true;
        };
        services.Present = [this] { log.push_back("present"); };
        services.ResizeDrawable = [this](int w, int h) {
            log.push_back("resize " + std::to_string(w) + "x" + std::to_string(h));
            gl.Resize(w, h);
        };
        services.ScreenNumber = [this] { return screen; };
        services.MainScreenNumber = [this] { return mainScreen; };
        services.BundlePath = [this](const char* name, const char* type, char* buffer,
                                     size_t size) {
            log.push_back(std::string("bundle ") + name + "." + type);
            buffer[0] = '\0';
            if (archive.empty() || archive.size() + 1 > size) return false;
            std::memcpy(buffer, archive.c_str(), archive.size() + 1);
            return true;
        };
        services.ReadSettings = [this](UserSettings* s) {
            log.push_back("settings");
            s->MainMonitorOnly = mainMonitorOnly;
            s->record = settings;
            s->FullDetail = false;
        };
        services.CaptureDesktop = [this](uint32_t* name) {
            log.push_back("capture");
            if (captureFails) return;
            gl.MakeCurrent();
            if (*name == 0) glGenTextures(1, name);
            glBindTexture(GL_TEXTURE_2D, *name);
            // A 2 x 2 picture: red, green, blue, white.
            const uint8_t pixels[16] = {255, 0, 0,   255, 0,   255, 0,   255,
                                        0,   0, 255, 255, 255, 255, 255, 255};
            glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
            capturedName = *name;
        };
    }

    // The logged calls since the last Clear.
    std::vector<std::string> Take() {
        std::vector<std::string> out;
        out.swap(log);
        return out;
    }
};
