// What the menu needs of the start logo and the font on the medium, with
// the words the menu reports a refused one in. obctl checks a medium's logo
// and font by the same limits.
#pragma once

#include <string>

namespace ob {

// The logo is shown at its own size: the screen needs at least 720p, and
// the display hardware scales at most an ultra-HD plane to the video
// output (a larger mode alone would take more memory than the box can
// spare).
constexpr unsigned min_logo_width = 1280;
constexpr unsigned min_logo_height = 720;
constexpr unsigned max_logo_width = 3840;
constexpr unsigned max_logo_height = 2160;

// Why the menu would not show the picture at path of the given size and
// colour space (cmyk: a CMYK or YCCK picture), as the menu logs it without
// its line feed; empty when it would.
std::string logo_problem(const char* path, unsigned width, unsigned height, bool cmyk);

// What the menu logs when FreeType does not take its font (printf format of
// the font's path, with its line feed).
constexpr const char* font_refused_format = "Freetype <Schrift \"%s\" fehlgeschlagen>\n";

}  // namespace ob
