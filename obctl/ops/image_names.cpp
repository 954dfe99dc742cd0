#include "image_names.h"

#include "image_entries.h"
#include "medium.h"
#include "selection_file.h"

namespace obctl {

namespace {

// The longest label text that keeps "N (TEXT)" within a label.
constexpr size_t longest_label_text = ob::image_label_size - 1 - 4;

}  // namespace

std::string refused_image_name(const std::string& name) {
    const ob::ImageVerdict verdict = ob::name_verdict(name);
    if (verdict != ob::ImageVerdict::listed)
        return "\"" + name + "\": " + ob::verdict_words(verdict);
    if (!ob::plain_image_name(name.c_str()) || name == ob::flash_name)
        return "\"" + name + "\": no name the menu lists and stores (not Flash, no slash)";
    return "";
}

std::string refused_label(const std::string& text) {
    bool one_word = !text.empty() && text.size() <= longest_label_text;
    for (char c : text)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) one_word = false;
    if (one_word) return "";
    return "a label is one word of at most " + std::to_string(longest_label_text) +
           " characters, without blanks or control characters";
}

}  // namespace obctl
