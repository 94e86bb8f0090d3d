// The animation timer's schedule: when the next tick is due, given when the
// last one was due and when its frame ended. Pure arithmetic on one clock.
#pragma once

// The time (seconds, on the clock of `due` and `now`) at which the tick
// after the one that was due at `due` fires, when that tick's work ended at
// `now`; `interval` > 0 is the timer's period. On time, ticks keep the
// period's phase. A frame that overran its next tick gets the following one
// at once, and the schedule restarts from `now`: missed ticks are never
// made up in a burst (a slow frame, a stop and continue), and a frame that
// is slower than the period is not followed by a wait for a whole period.
double NextTickDue(double due, double now, double interval);
