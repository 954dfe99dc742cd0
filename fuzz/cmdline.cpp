// /proc/cmdline (and any first line) through the line reader, whole and in
// both long-line rules.
#include <fcntl.h>
#include <string.h>

#include "fuzz_box.h"
#include "kernel.h"
#include "line_reader.h"
#include "medium.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ob_test::FakeKernel kernel;
    kernel.write_file(ob::kernel_cmdline, ob_fuzz::bytes(data, size));
    const std::string first = obinit::read_first_line(ob::kernel_cmdline);
    if (first.find('\n') != std::string::npos || first.size() > size) __builtin_trap();
    for (auto rule : {obinit::LineReader::LongLine::skip, obinit::LineReader::LongLine::split}) {
        const int fd = ob::kernel().open(ob::kernel_cmdline, O_RDONLY);
        if (fd < 0) __builtin_trap();
        obinit::LineReader lines(fd, rule);
        char line[17];
        size_t total = 0;
        while (lines.next(line, sizeof line)) {
            const size_t n = strnlen(line, sizeof line);
            if (n >= sizeof line) __builtin_trap();
            total += n;
        }
        if (total > size) __builtin_trap();
        lines.rewind();
        std::string whole;
        while (lines.next(whole))
            total += whole.size();
        ob::kernel().close(fd);
    }
    return 0;
}
