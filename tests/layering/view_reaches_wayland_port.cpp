// Built only by layering_test: a view file that includes the Wayland
// port's header. Above the platform only the shared headers are seen (the
// screenshot portal among them), so this must not compile.
#include "platform/wayland/wayland.h"
