#include "countdown.h"

#include "input.h"
#include "kernel.h"

namespace orbiel {

int menu_timeout = 10;
int64_t deadline = 0;
int64_t stage_end = 0;
int shown_remaining = 0;

namespace {
int64_t milliseconds_left() { return deadline - ob::kernel().monotonic_ms(); }
}  // namespace

void start_countdown() {
    stage_end = ob::kernel().monotonic_ms() + longest_stage_ms;
    renew_deadline();
}

void renew_deadline() {
    deadline = ob::kernel().monotonic_ms() + static_cast<int64_t>(menu_timeout) * 1000;
    if (deadline > stage_end) deadline = stage_end;
}

bool deadline_passed() { return milliseconds_left() <= 0; }

int remaining_seconds() {
    int64_t left = milliseconds_left();
    if (left <= 0) return 0;
    return static_cast<int>((left + 999) / 1000);
}

void wait_for_next_pass() {
    int64_t left = milliseconds_left();
    if (left <= 0) return;
    int64_t to_next_second = left % 1000;
    wait_for_input(static_cast<int>(to_next_second == 0 ? 1000 : to_next_second));
}

}  // namespace orbiel
