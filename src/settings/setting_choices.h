// The values of the settings that choose among named kinds: what lies under
// the water, and how the desktop's picture is shown. Apart from the table
// (settings/settings_table.h), so that code which only acts on a choice
// includes no more than the choice.
#pragma once

#include <cstdint>

// What lies under the water (the "Picture" setting).
enum class ShownPicture : int32_t {
    Desktop = 0,  // the desktop (the factory value)
    Folder = 1,   // a picture from the user's folder instead
};

// How the desktop's picture is shown (the "DesktopPrivacy" setting). The
// user's own pictures and the built-in one are always shown as they are.
enum class DesktopPrivacy : int32_t {
    AsItIs = 0,     // the factory value
    Blurred = 1,    // a Gaussian-like blur (view/desktop_privacy.h)
    Pixelated = 2,  // blocks of one average colour each (the same)
};
