// NextTickDue: the frame loop's tick schedule.
#include "app/tick_schedule.h"

double NextTickDue(double due, double now, double interval) {
    const double next = due + interval;
    return next < now ? now : next;
}
