// Built only by layering_test: an X11 backend file that includes a header
// of the Wayland backend. The X11 backend's library sees the shared
// platform headers and its own folder only, so this must not compile.
#include "platform/wayland/wayland_internal.h"
