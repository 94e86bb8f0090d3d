// Built only by layering_test: a scene file that includes a platform header.
// The scene's library does not link the platform, so this must not compile.
#include "platform/platform.h"
