// add: an image from a directory or an archive file named on the command
// line, with a progress bar; Ctrl-C ends it without a trace.
#include <signal.h>

#include "findings.h"
#include "kernel.h"
#include "medium.h"
#include "medium_view.h"
#include "operations.h"
#include "progress.h"
#include "source_overlap.h"
#include "verbs.h"

namespace obctl {

namespace {

volatile sig_atomic_t stop_requested = 0;

void request_stop(int) { stop_requested = 1; }

// Ctrl-C, a closed terminal or a kill end the unpack between two blocks,
// so that what was unpacked is removed before obctl exits.
class StopSignals {
public:
    StopSignals() {
        stop_requested = 0;
        struct sigaction action = {};
        action.sa_handler = request_stop;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < count; ++i)
            sigaction(signals[i], &action, &before_[i]);
    }
    ~StopSignals() {
        for (size_t i = 0; i < count; ++i)
            sigaction(signals[i], &before_[i], nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    static constexpr int signals[] = {SIGINT, SIGTERM, SIGHUP};
    static constexpr size_t count = sizeof signals / sizeof signals[0];
    struct sigaction before_[count];
};

}  // namespace

int verb_add(const Invocation& run, const Medium& medium) {
    AddRequest request;
    request.name = run.args[0];
    request.label = run.options & takes_label ? run.label : "";
    request.slot = run.options & takes_slot ? run.slot : "";
    request.replace = (run.options & takes_replace) != 0;
    const std::string& path = run.args[1];
    std::string error = source_overlap(medium, path);
    if (!error.empty()) return fail(run, error);
    Progress progress("add " + (request.slot.empty() ? request.name : request.slot));
    const Outcome can = add_can_start(medium, request, progress);
    if (!can.ok()) return report(run, can);
    ImageSource source;
    if (!source.open(path, error)) return fail(run, error);
    Outcome result;
    {
        StopSignals signals;
        result = add_image(medium, request, source, progress, stop_requested);
    }
    if (!result.ok()) return report(run, result);
    progress.note(result.message);
    const std::string name = request.slot.empty() ? request.name : request.slot;
    const MediumView view = look_at(medium);
    if (const ImageState* image = find_image(view, name))
        print_findings(image_findings(medium, view, *image, true));
    return done;
}

}  // namespace obctl
