// The benchmarks' entry: Google Benchmark's own, except that the run fails
// when a benchmark reported an error, so that a measurement that went astray
// (no pass, no time) cannot be read as a figure. Other output formats go to
// a file (--benchmark_out, --benchmark_out_format).
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <unistd.h>

#include <vector>

namespace {

class FailureCounter : public benchmark::ConsoleReporter {
public:
    // In colour on a terminal only, as the library's own reporter.
    FailureCounter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Color : OO_None) {}
    int failed = 0;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.error_occurred) ++failed;
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    FailureCounter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (reporter.failed == 0) return 0;
    fprintf(stderr, "bench: %d benchmark(s) failed\n", reporter.failed);
    return 1;
}
