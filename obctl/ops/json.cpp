#include "json.h"

#include <stdio.h>

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

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x80) {
            out += static_cast<char>(c);
        } else if (const size_t length = c >= 0x80 ? utf8_length(text, i) : 0) {
            out += text.substr(i, length);
            i += length - 1;
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        }
    }
    return out + "\"";
}

void Json::separate() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) out_ += ',';
        first_.back() = false;
    }
}

Json& Json::key(const char* name) {
    separate();
    out_ += json_string(name) + ":";
    after_key_ = true;
    return *this;
}

Json& Json::begin_object() {
    separate();
    out_ += '{';
    first_.push_back(true);
    return *this;
}

Json& Json::end_object() {
    out_ += '}';
    first_.pop_back();
    return *this;
}

Json& Json::begin_array() {
    separate();
    out_ += '[';
    first_.push_back(true);
    return *this;
}

Json& Json::end_array() {
    out_ += ']';
    first_.pop_back();
    return *this;
}

Json& Json::string(const std::string& text) {
    separate();
    out_ += json_string(text);
    return *this;
}

Json& Json::number(int64_t value) {
    separate();
    out_ += std::to_string(value);
    return *this;
}

Json& Json::boolean(bool value) {
    separate();
    out_ += value ? "true" : "false";
    return *this;
}

Json& Json::null() {
    separate();
    out_ += "null";
    return *this;
}

}  // namespace obctl
