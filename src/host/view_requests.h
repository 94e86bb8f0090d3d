// The views a mode of the command line asks for, on the outputs of the
// session it runs in.
#pragma once

#include <vector>

#include "command/command_line.h"
#include "platform/session.h"

// -window: a top-level window as --geometry says (negative offsets count
// from the right and bottom edges of the outputs); -root: the window a
// screen-saver daemon names in $XSCREENSAVER_WINDOW (one that is no window
// id is named in one line), else the root; -window-id: that window;
// --fullscreen: one view covering each output; --render: one offscreen
// view of the render's size.
std::vector<platform::ViewRequest> ViewRequests(const CommandLine& cl,
                                                const std::vector<platform::Output>& outputs);
