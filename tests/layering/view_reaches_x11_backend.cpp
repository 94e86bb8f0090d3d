// Built only by layering_test: a view file that includes the X11 backend's
// header. Only the platform and the tests see a backend's headers, so this
// must not compile.
#include "platform/x11/x11.h"
