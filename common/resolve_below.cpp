#include "resolve_below.h"

#include <limits.h>
#include <sys/stat.h>

#include <vector>

#include "kernel.h"

namespace ob {

namespace {

// Symbolic links followed in one path before it counts as unresolvable (the
// kernel's own limit).
constexpr int max_links = 40;

// Adds the names of `text` to the names still to walk, the next one last.
void push_names(const std::string& text, std::vector<std::string>& rest) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= text.size()) {
        size_t slash = text.find('/', start);
        if (slash == std::string::npos) slash = text.size();
        if (slash > start) names.push_back(text.substr(start, slash - start));
        start = slash + 1;
    }
    rest.insert(rest.end(), names.rbegin(), names.rend());
}

}  // namespace

bool resolve_below(const std::string& root, const std::string& path, std::string& resolved) {
    std::vector<std::string> rest;
    push_names(path, rest);
    std::string done;  // "" is the root
    int links = 0;
    while (!rest.empty()) {
        const std::string name = rest.back();
        rest.pop_back();
        if (name == ".") continue;
        if (name == "..") {
            done.erase(done.empty() ? 0 : done.rfind('/'));
            continue;
        }
        const std::string next = done + "/" + name;
        struct stat st;
        if (kernel().lstat((root + next).c_str(), &st) != 0) return false;
        if (!S_ISLNK(st.st_mode)) {
            done = next;
            continue;
        }
        char target[PATH_MAX];
        const ssize_t n = kernel().readlink((root + next).c_str(), target, sizeof target);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof target || ++links > max_links) return false;
        if (target[0] == '/') done.clear();
        push_names(std::string(target, static_cast<size_t>(n)), rest);
    }
    resolved = done.empty() ? "/" : done;
    return true;
}

}  // namespace ob
