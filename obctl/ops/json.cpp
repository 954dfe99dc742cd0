#include "json.h"

namespace obctl {

namespace {

// The length of the UTF-8 sequence at text[at], 0 when none starts there.
size_t utf8_length(const std::string& text, size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                          : lead >= 0xE0                 ? 3
                          : lead >= 0xC2 && lead <= 0xDF ? 2
                                                         : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    const unsigned char second = static_cast<unsigned char>(text[at + 1]);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

}  // namespace

Json json_text(const std::string& text) {
    std::string utf8;
    utf8.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = c >= 0x80 ? utf8_length(text, i) : 1;
        if (length > 0) {
            utf8.append(text, i, length);
            i += length - 1;
        } else {
            // U+0080 to U+00FF in two bytes.
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return Json(std::move(utf8));
}

// Texts are made with json_text; a message that carries a name unchecked
// gets the replacement character rather than no answer at all.
std::string json_line(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace obctl
