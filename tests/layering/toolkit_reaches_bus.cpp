// Built only by layering_test: a toolkit file that includes a header of
// the bus. The toolkit links the bus for its bodies only (the screenshot
// portal's grant, through platform/portal_screenshot.h), so this must not
// compile.
#include "platform/bus/session_bus_internal.h"
