#include "medium_bundle.h"

#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "control_file.h"
#include "kernel.h"

namespace obctl {

namespace {

// Far more than any program or font of a medium.
constexpr off_t largest_file = 64 * 1024 * 1024;
constexpr const char* installed_tree = "/share/orbiel/medium";

// What a medium tree holds besides the user's images and settings: a
// medium that obctl runs from serves as a tree too.
bool in_layout(const std::string& path) {
    const std::string top = path.substr(0, path.find('/'));
    if (top == "ob") return path == "ob";
    for (const char* name : {"ob.sh", "LICENSE", "THIRD-PARTY-NOTICES", "bin", "fonts", "logos"})
        if (top == name) return true;
    return false;
}

bool read_whole(const std::string& path, off_t size, std::string& content) {
    content.assign(static_cast<size_t>(size) + 1, '\0');
    const long got = ob::read_control_file(path.c_str(), &content[0], content.size(),
                                           static_cast<size_t>(size) + 1);
    if (got != static_cast<long>(size)) return false;
    content.resize(static_cast<size_t>(size));
    return true;
}

bool read_tree(const std::string& top, const std::string& below, Bundle& bundle,
               std::string& error) {
    std::vector<std::string> names;
    const std::string dir = below.empty() ? top : top + "/" + below;
    if (ob::kernel().list_dir(dir.c_str(), names) != 0) {
        error = dir + ": " + strerror(errno);
        return false;
    }
    for (const std::string& name : names) {
        BundleFile file;
        file.path = below.empty() ? name : below + "/" + name;
        if (!in_layout(file.path)) continue;
        const std::string path = top + "/" + file.path;
        struct stat st;
        if (ob::kernel().lstat(path.c_str(), &st) != 0) {
            error = path + ": " + strerror(errno);
            return false;
        }
        file.mode = st.st_mode & 07777;
        file.directory = S_ISDIR(st.st_mode);
        if (!file.directory && !S_ISREG(st.st_mode)) continue;
        if (!file.directory &&
            (st.st_size > largest_file || !read_whole(path, st.st_size, file.content))) {
            error = path + ": cannot be read whole";
            return false;
        }
        bundle.files.push_back(file);
        if (file.directory && file.path != "ob" && !read_tree(top, file.path, bundle, error))
            return false;
    }
    return true;
}

bool read_tarball(const std::string& path, Bundle& bundle, std::string& error) {
    archive* a = archive_read_new();
    archive_read_support_filter_all(a);
    archive_read_support_format_tar(a);
    bool good = archive_read_open_filename(a, path.c_str(), 64 * 1024) == ARCHIVE_OK;
    archive_entry* entry = nullptr;
    int status = ARCHIVE_OK;
    while (good && (status = archive_read_next_header(a, &entry)) == ARCHIVE_OK) {
        BundleFile file;
        file.path = archive_entry_pathname(entry);
        while (file.path.compare(0, 2, "./") == 0)
            file.path.erase(0, 2);
        while (!file.path.empty() && file.path.back() == '/')
            file.path.pop_back();
        if (!in_layout(file.path) || file.path.find("..") != std::string::npos) continue;
        file.mode = archive_entry_perm(entry);
        file.directory = archive_entry_filetype(entry) == AE_IFDIR;
        if (!file.directory && archive_entry_filetype(entry) != AE_IFREG) continue;
        const la_int64_t size = archive_entry_size(entry);
        if (size > largest_file) break;
        file.content.resize(static_cast<size_t>(size));
        good =
            file.directory || archive_read_data(a, &file.content[0], file.content.size()) == size;
        bundle.files.push_back(file);
    }
    if (!good || status != ARCHIVE_EOF) {
        const char* text = archive_error_string(a);
        error = path + ": " + (text != nullptr ? text : "not a whole medium tarball");
    }
    archive_read_free(a);
    return error.empty();
}

// The directory holding the running program's bin/.
std::string program_prefix() {
    char exe[4096];
    const ssize_t got = ob::kernel().readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (got <= 0) return "";
    std::string path(exe, static_cast<size_t>(got));
    for (int up = 0; up < 2; ++up) {
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos) return "";
        path.resize(slash);
    }
    return path;
}

std::string default_tree() {
    const std::string prefix = program_prefix();
    struct stat st;
    if (ob::kernel().stat((prefix + installed_tree).c_str(), &st) == 0)
        return prefix + installed_tree;
    if (ob::kernel().stat((prefix + "/ob.sh").c_str(), &st) == 0)
        return prefix.empty() ? "/" : prefix;
    return "";
}

}  // namespace

const BundleFile* Bundle::find(const std::string& path) const {
    for (const BundleFile& file : files)
        if (file.path == path) return &file;
    return nullptr;
}

bool is_program(const BundleFile& file) {
    if (file.directory) return false;
    return file.path == "ob.sh" || file.path.compare(0, 4, "bin/") == 0 || file.path == "LICENSE" ||
           file.path == "THIRD-PARTY-NOTICES";
}

bool read_bundle(const std::string& from, Bundle& bundle, std::string& error) {
    bundle = Bundle();
    bundle.from = from.empty() ? default_tree() : from;
    if (bundle.from.empty()) {
        error = "no medium tree installed beside obctl (" + program_prefix() + installed_tree +
                "); --from names the release's medium tarball or its unpacked tree";
        return false;
    }
    struct stat st;
    if (ob::kernel().stat(bundle.from.c_str(), &st) != 0) {
        error = bundle.from + ": " + strerror(errno);
        return false;
    }
    const bool read = S_ISDIR(st.st_mode) ? read_tree(bundle.from, "", bundle, error)
                                          : read_tarball(bundle.from, bundle, error);
    if (!read) return false;
    for (const char* needed : {"ob.sh", "bin/orbiel"}) {
        if (bundle.find(needed) == nullptr) {
            error = bundle.from + " is no Orbiel medium tree: it lacks " + needed;
            return false;
        }
    }
    return true;
}

}  // namespace obctl
