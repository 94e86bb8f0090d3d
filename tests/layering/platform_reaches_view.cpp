// Built only by layering_test: a platform file that includes a view header.
// The platform's library does not link the view, so this must not compile.
#include "view/mereglass_view.h"
