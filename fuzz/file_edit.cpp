// The edits of an image's mount table and systemd units, on any content and
// with any text to replace: the content, the text and its replacement are the
// input's NUL-separated parts.
#include "file_edit.h"
#include "fuzz_box.h"
#include "image_root.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> parts = ob_fuzz::split(data, size, 3);
    ob_test::FakeKernel kernel;
    const char* unit = "/lib/systemd/system/connman.service";
    kernel.write_file("/etc/fstab", parts[0]);
    kernel.write_file(unit, parts[0]);
    ob_fuzz::run_to_end([&] {
        obinit::comment_out_fstab();
        const std::string table = kernel.read_file("/etc/fstab");
        if (table != parts[0] && table != "#" + parts[0]) __builtin_trap();
        obinit::replace_in_file("ProtectHome=true", "#ProtectHome=true", unit);
        obinit::replace_in_file(parts[1].c_str(), parts[2].c_str(), unit);
        const obinit::TextEdit edits[] = {{"ProtectSystem=full", "#ProtectSystem=full"},
                                          {parts[2].c_str(), parts[1].c_str()},
                                          {parts[1].c_str(), parts[2].c_str()}};
        obinit::edit_file(unit, edits, sizeof edits / sizeof edits[0]);
        obinit::prepend_to_file(parts[2].c_str(), unit);
    });
    return 0;
}
