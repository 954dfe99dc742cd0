// The time-out shared by the PIN stage and the selection stage.
//
// The deadline lives on the monotonic clock in milliseconds: a wall clock set
// while the menu runs (boxes often start in 1970) must neither end the menu
// at once nor keep it up for decades, and a millisecond deadline lets the
// waiting sleep exactly until the shown whole seconds change.
#pragma once

#include <stdint.h>

namespace orbiel {

// Seconds without a key before a stage gives up: 2..30, 10 by default.
extern int menu_timeout;
// When the current stage times out (monotonic milliseconds).
extern int64_t deadline;
// Remaining seconds last drawn by the bar; 0 before the first drawing and
// deliberately not reset between the two stages.
extern int shown_remaining;

// Any input event restarts the time-out.
void renew_deadline();
bool deadline_passed();
// Whole seconds left, rounded up: menu_timeout right after a renewal, 0 once
// the deadline has passed.
int remaining_seconds();
// Sleeps until an input event arrives, the remaining whole seconds change,
// or the deadline passes, whichever comes first.
void wait_for_next_pass();

}  // namespace orbiel
