#include "menu_assets.h"

#include <stdio.h>

namespace ob {

std::string logo_problem(const char* path, unsigned width, unsigned height, bool cmyk) {
    char line[512];
    if (cmyk)
        snprintf(line, sizeof line,
                 "jpeg %s is CMYK - only colour and greyscale pictures are shown", path);
    else if (width < min_logo_width || height < min_logo_height)
        snprintf(line, sizeof line, "jpeg size is %ix%i - should be at least %ux%u",
                 static_cast<int>(width), static_cast<int>(height), min_logo_width,
                 min_logo_height);
    else if (width > max_logo_width || height > max_logo_height)
        snprintf(line, sizeof line, "jpeg size is %ix%i - the screen shows at most %ix%i",
                 static_cast<int>(width), static_cast<int>(height),
                 static_cast<int>(max_logo_width), static_cast<int>(max_logo_height));
    else
        return "";
    return line;
}

}  // namespace ob
