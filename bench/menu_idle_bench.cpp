// CPU used by the menu while nobody presses a key.
//
// Runs the selection stage's idle passes (read the input devices, check the
// deadline, redraw the bar when due, wait) for 5 seconds against the real
// kernel, with a pipe standing in for the remote's event device, and
// reports the share of one core that the process used: once with the
// waiting the menu does, once as a busy loop without it for comparison. A
// run that made no pass or took no time fails the benchmark.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <unistd.h>

#include "countdown.h"
#include "input.h"
#include "kernel.h"
#include "menu_screen.h"

namespace {

constexpr int idle_seconds = 5;

double cpu_seconds() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A silent remote: the read end of a pipe nobody writes to.
struct SilentRemote {
    int ends[2];
    SilentRemote() {
        if (pipe2(ends, O_NONBLOCK) != 0) ends[0] = ends[1] = -1;
        for (int& slot : orbiel::key)
            slot = 0;
        orbiel::key[0] = ends[0];
    }
    ~SilentRemote() {
        orbiel::key[0] = 0;
        close(ends[0]);
        close(ends[1]);
    }
};

// One selection stage of idle_seconds with nobody pressing a key, passed as
// the stage passes: the stage's own countdown (with its latest end), a key
// renewing it, the deadline, the bar, the wait.
void idle_selection(benchmark::State& state, bool wait) {
    SilentRemote remote;
    if (remote.ends[0] < 0) {
        state.SkipWithError("no pipe to stand in for the remote");
        return;
    }
    orbiel::menu_timeout = idle_seconds;
    orbiel::show_progress = 0;
    for (auto _ : state) {
        const double cpu_before = cpu_seconds();
        const int64_t wall_before = ob::kernel().monotonic_ms();
        long passes = 0;
        orbiel::start_countdown();
        for (;;) {
            orbiel::read_key();
            if (orbiel::renews_timeout()) orbiel::renew_deadline();
            if (orbiel::deadline_passed()) break;
            orbiel::draw_progress();
            if (wait) orbiel::wait_for_next_pass();
            ++passes;
        }
        const double cpu = cpu_seconds() - cpu_before;
        const double wall = static_cast<double>(ob::kernel().monotonic_ms() - wall_before) / 1000.0;
        // A stage that ended before its time measured nothing: no figure.
        if (passes == 0 || wall < idle_seconds - 0.5) {
            char why[96];
            snprintf(why, sizeof why, "the stage ended after %ld passes and %.3f s, not %d s",
                     passes, wall, idle_seconds);
            state.SkipWithError(why);
            return;
        }
        state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
        state.counters["passes"] = static_cast<double>(passes);
    }
}

void BM_MenuIdle_Waiting(benchmark::State& state) { idle_selection(state, true); }
void BM_MenuIdle_BusyPollBaseline(benchmark::State& state) { idle_selection(state, false); }

BENCHMARK(BM_MenuIdle_Waiting)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_MenuIdle_BusyPollBaseline)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
