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
// No renewal moves the deadline past this (monotonic milliseconds).
extern int64_t stage_end;
// Remaining seconds last drawn by the bar; 0 before the first drawing and
// deliberately not reset between the two stages.
extern int shown_remaining;

// Starts a stage's time-out: menu_timeout seconds from now, and the latest
// end of the stage, longest_stage_ms from now, which no renewal passes.
void start_countdown();
// Restarts the time-out after a key (see renews_timeout in input.h), never
// beyond the stage's latest end: a remote that keeps sending keys by itself
// must not hold the box in the menu for good.
void renew_deadline();
constexpr int64_t longest_stage_ms = 10 * 60 * 1000;
bool deadline_passed();
// Whole seconds left, rounded up: menu_timeout right after a renewal, 0 once
// the deadline has passed.
int remaining_seconds();
// Sleeps until an input event arrives, the remaining whole seconds change,
// or the deadline passes, whichever comes first.
void wait_for_next_pass();

}  // namespace orbiel
