// Replacing a file on a medium that may lose power at any moment: the complete
// new contents go to a temporary next to the file, reach the disk, and only
// then take the file's name by a rename, flushed with its directory. After a
// power cut the file holds its old or its new contents, never a part.
#pragma once

#include <stddef.h>
#include <sys/stat.h>

#include <string>

namespace ob {

// Suffix of the temporary that becomes the file.
constexpr const char* replace_suffix = ".obnew";

// The file that `path` finally names: `path` itself, or the file a symbolic
// link (or a chain of them; relative targets taken from the link's own
// directory) points to. False when a link cannot be read or the chain does not
// end. A missing name or one that is no link is the file itself.
bool resolve_link_chain(const char* path, std::string& target);

struct FilePart {
    const char* data;
    size_t size;
};

// Makes `path` (no link) hold exactly the concatenation of the parts, given
// the mode and owner of `old`, through `path` + replace_suffix. On any
// failure before the rename the temporary is removed, `path` keeps its old
// contents, and false returns with errno of the failed step.
bool replace_file(const char* path, const struct stat& old, const FilePart* parts, size_t count);

// The same in the open directory dirfd, for the file `name` in it: the
// temporary is made there without following a link, and a link named `name`
// is replaced by the file, never followed. The directory is flushed.
bool replace_file_at(int dirfd, const char* name, const struct stat& old, const FilePart* parts,
                     size_t count);

// Removes the temporary of `path` that a power cut during an earlier replace
// left behind.
void remove_stale_replace(const char* path);

// Makes a rename into, or a removal from, the directory that holds `path`
// durable: that directory is flushed, or everything where it cannot be.
void flush_directory_of(const char* path);

}  // namespace ob
