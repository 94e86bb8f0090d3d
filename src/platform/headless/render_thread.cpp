// DrawOnOneThread: the software renderer's thread count, set through the
// environment its driver reads when it starts. Relies on POSIX setenv.
#include <cstdlib>

#include "platform/platform.h"

namespace platform {

void DrawOnOneThread() {
    // Mesa's llvmpipe: 0 draws on the thread that flushes. A count the
    // user set stays.
    setenv("LP_NUM_THREADS", "0", 0);
}

}  // namespace platform
