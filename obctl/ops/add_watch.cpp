#include "add_watch.h"

namespace obctl {

std::string megabytes(uint64_t bytes) {
    const uint64_t tenths = (bytes + 50 * 1000) / (100 * 1000);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB";
}

}  // namespace obctl
