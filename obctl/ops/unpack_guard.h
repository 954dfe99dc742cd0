// Keeps every name an unpack writes inside the image's root. Before an entry
// is written, its directory is reached from the root by handles, one name at
// a time, never through a link; a link already at the entry's own name is
// removed (the entry replaces it, it is never written through). The
// directories reached are kept open for the entries that follow (an archive
// lists a directory's files together), and forgotten as soon as an entry
// replaces them: so every name costs one open only when its directory
// changes, where a check from the root at every entry costs one per level.
#pragma once

#include <list>
#include <string>
#include <utility>

#include "dir_handle.h"

namespace obctl {

class UnpackGuard {
public:
    explicit UnpackGuard(const DirHandle& root) : root_(root) {}

    // Before the entry at `path` (relative to the root) is written. False
    // with the reason when a link or something else than a directory lies on
    // its way.
    bool clear_for(const std::string& path, std::string& error);
    // A hard link's target: reached without a link on the way.
    bool reachable(const std::string& target, std::string& error);
    // After an entry other than a directory was written at `path`: what was
    // known of that name and below it no longer holds.
    void replaced(const std::string& path);

private:
    // The directory `dir` ("" for the root), or nullptr with found_missing
    // when a name on its way does not exist yet (the writer makes it a real
    // directory); false with the reason when a link is on the way.
    bool directory(const std::string& dir, const DirHandle*& handle, std::string& error);

    const DirHandle& root_;
    std::list<std::pair<std::string, DirHandle>> open_;  // the most recent first
};

}  // namespace obctl
