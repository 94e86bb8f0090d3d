// Built only by layering_test: a view file that includes GTK. Only the
// platform's library sees the window-system headers, so this must not
// compile.
#include <gtk/gtk.h>
