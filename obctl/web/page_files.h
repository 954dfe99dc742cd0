// The page's files (web/page/), built into obctl: nothing to install, and
// the page always matches the API it talks to.
#pragma once

#include <stddef.h>

namespace obctl {

struct PageFile {
    const char* name;  // "index.html", "page.css", "page.js"
    const unsigned char* data;
    size_t size;
};

extern const PageFile page_files[];
extern const size_t page_file_count;

}  // namespace obctl
