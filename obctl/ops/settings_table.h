// The settings files obctl sets and unsets, each named by its file's name
// without the leading ".ob", with what the boot programs take in it and
// what they make of it. The values come from the programs' own rules
// (common/), so a rule changed there changes what obctl takes and shows.
#pragma once

#include <string>

#include "medium_dir.h"

namespace obctl {

struct SettingFile {
    const char* key;
    const char* box_path;
    // on_off: the file's presence switches; `present_means_on` says which way.
    enum Kind { value, on_off } kind;
    bool present_means_on;
    // What `set` takes, for its refusal and the help.
    const char* accepted;
    // value kind: whether the programs take text as it is (neither clamp it
    // nor ignore it nor cut anything off it).
    bool (*takes)(const std::string& text);
    // What the programs make of the file on the medium, for people.
    std::string (*effective)(const Medium& medium);
};

extern const SettingFile setting_files[];
extern const size_t setting_file_count;
const SettingFile* find_setting(const std::string& key);

// The part of a settings file that its reader looks at: the first line.
// False when there is no regular file.
bool setting_text(const Medium& medium, const SettingFile& setting, std::string& text);

// The word obinit passes on to the box driver from the file (boot colour,
// mask); "" when there is none.
std::string box_setting(const Medium& medium, const char* box_path);

}  // namespace obctl
