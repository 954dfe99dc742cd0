// What a medium is beyond its files: the partition it is mounted from, its
// file system and label, its free space, and the Orbiel version on it.
#pragma once

#include <stdint.h>

#include <string>

#include "ext_volume.h"
#include "medium_dir.h"

namespace obctl {

struct MediumInfo {
    std::string device;        // as the mount table names it; "" when not found
    std::string file_system;   // "ext4", ...
    bool volume_read = false;  // the superblock could be read
    std::string volume_error;  // why not
    ob::ExtVolume volume;
    bool space_known = false;
    uint64_t free_bytes = 0;
    uint64_t size_bytes = 0;
    // The menu's version as its last run logged it (.oblog), "" when unknown.
    std::string orbiel_version;
};

MediumInfo medium_info(const Medium& medium);

}  // namespace obctl
