// Xvfb: a private virtual X server for one test, started with -displayfd
// (the server picks a free display number and reports it) and -noreset,
// and stopped with SIGTERM when the object goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class Xvfb {
public:
    // Starts `Xvfb -displayfd FD -noreset -nolisten tcp -screen 0 WxHxDEPTH`
    // followed by `extra` (say {"-extension", "GLX"} for a server without
    // GLX) and waits (at most 30 s) until it reports its display.
    Xvfb(int width, int height, int depth = 24, const std::vector<std::string>& extra = {});
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    // False when the server did not start; error() says why, with the
    // server's own last line when it said one.
    bool ok() const { return !display_.empty(); }
    const std::string& error() const { return error_; }
    // The display name, ":N".
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
    std::string error_;
};
