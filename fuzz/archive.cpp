// Any bytes as an image archive, read as an upload is (a stream, no file)
// and added to a small medium on tmpfs: no crash, and nothing written outside
// the unpack directory (the medium's own files, a directory beside it and
// the working directory stay as they were).
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "image_source.h"
#include "medium_dir.h"
#include "operations.h"

namespace {

// The input handed over in small blocks, as an upload arrives.
class Upload : public obctl::ByteStream {
public:
    Upload(const uint8_t* data, size_t size) : data_(data), left_(size) {}
    long next(const void** block) override {
        const size_t n = left_ < 4096 ? left_ : 4096;
        *block = data_;
        data_ += n;
        left_ -= n;
        return static_cast<long>(n);
    }
    std::string why() const override { return ""; }

private:
    const uint8_t* data_;
    size_t left_;
};

class Quiet : public obctl::AddWatch {
public:
    void phase(Phase) override {}
    void unpacked(uint64_t, uint64_t, uint64_t, uint64_t) override {}
    void note(const std::string&) override {}
};

std::string listing;

// Every name below dir with its type and size, and a file's contents.
std::string snapshot(const std::string& dir) {
    listing.clear();
    nftw(
        dir.c_str(),
        [](const char* path, const struct stat* st, int, struct FTW*) {
            listing += std::string(path) + " " + std::to_string(st->st_mode) + " " +
                       std::to_string(st->st_size) + "\n";
            return 0;
        },
        16, FTW_PHYS);
    return listing;
}

void remove_all(const std::string& dir) {
    nftw(
        dir.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) {
            remove(path);
            return 0;
        },
        16, FTW_PHYS | FTW_DEPTH);
}

void write(const std::string& path, const std::string& content) { std::ofstream(path) << content; }

// A fresh workspace: the medium, a directory beside it, and the process
// working in the workspace itself.
std::string workspace() {
    static std::string top;
    if (top.empty()) {
        char name[] = "/dev/shm/obctl-fuzz-XXXXXX";
        if (mkdtemp(name) == nullptr) abort();
        top = name;
    }
    remove_all(top + "/medium");
    remove_all(top + "/beside");
    mkdir((top + "/medium").c_str(), 0755);
    mkdir((top + "/medium/ob").c_str(), 0755);
    mkdir((top + "/beside").c_str(), 0755);
    write(top + "/medium/ob.sh", "");
    write(top + "/medium/obboot.ini", "Flash\n");
    write(top + "/beside/file", "keep\n");
    if (chdir(top.c_str()) != 0) abort();
    return top;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string top = workspace();
    const std::string before = snapshot(top + "/beside") + snapshot(top + "/medium/ob.sh") +
                               snapshot(top + "/medium/obboot.ini");
    obctl::Medium medium;
    std::string error;
    if (!obctl::find_medium(top + "/medium", medium, error)) abort();
    Quiet quiet;
    obctl::AddRequest request;
    request.name = "x";
    static volatile sig_atomic_t never = 0;
    {
        Upload upload(data, size);
        obctl::ImageSource source;
        // add_can_start is left out: it refuses the tmpfs (no ext file system).
        if (source.open_stream(upload, "upload", size, error))
            obctl::add_image(medium, request, source, quiet, never);
    }
    char here[4096];
    if (getcwd(here, sizeof here) == nullptr || top != here) __builtin_trap();
    const std::string after = snapshot(top + "/beside") + snapshot(top + "/medium/ob.sh") +
                              snapshot(top + "/medium/obboot.ini");
    if (after != before) __builtin_trap();
    // The workspace holds the medium and the directory beside it, nothing
    // more; the medium its files and the image directory.
    const std::string names = snapshot(top);
    for (size_t start = 0; start < names.size();) {
        const size_t end = names.find('\n', start);
        const std::string line = names.substr(start, end - start);
        start = end + 1;
        const std::string path = line.substr(0, line.find(' '));
        if (path == top || path == top + "/medium" || path == top + "/beside" ||
            path.compare(0, top.size() + 11, top + "/medium/ob/") == 0 ||
            path == top + "/medium/ob" || path == top + "/medium/ob.sh" ||
            path == top + "/medium/obboot.ini" || path == top + "/beside/file")
            continue;
        __builtin_trap();
    }
    return 0;
}
