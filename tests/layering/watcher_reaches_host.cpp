// Built only by layering_test: an idle watcher file that includes a host
// header. The watcher runs the saver as a program and its library does not
// link the host, so this must not compile.
#include "host/host.h"
