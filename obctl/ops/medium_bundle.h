// The release's medium tree, which obctl prepare lays out on a medium: read
// from the unpacked tree or from the release's medium tarball.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace obctl {

struct BundleFile {
    std::string path;  // below the tree's top: "bin/orbiel", "ob"
    bool directory = false;
    mode_t mode = 0644;   // permission bits
    std::string content;  // of a regular file
};

struct Bundle {
    std::string from;  // where it was read, for the user
    std::vector<BundleFile> files;
    const BundleFile* find(const std::string& path) const;
};

// Reads the tree or tarball at from; without from, the tree installed
// beside the running obctl (PREFIX/share/orbiel/medium for PREFIX/bin/obctl,
// or the medium obctl runs from). False with the reason when it is none, or
// lacks ob.sh or bin/orbiel.
bool read_bundle(const std::string& from, Bundle& bundle, std::string& error);

// Whether the file is one of the programs (replaced by an upgrade) rather
// than part of the layout made once (the font, the logo, obboot.ini, ob/).
bool is_program(const BundleFile& file);

}  // namespace obctl
