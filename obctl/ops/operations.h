// The operations on a medium, one function each: what the command line's
// verbs and the web page's actions do, with the same rules, refusals and
// writes. The caller holds the medium's lock (medium_dir.h): shared for the
// ones that only read, exclusive for the others.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

#include "add_watch.h"
#include "findings.h"
#include "image_source.h"
#include "medium_dir.h"
#include "outcome.h"

namespace obctl {

// The choice the box boots at every start (obboot.ini), or at the next
// start only (.oboneshot): Flash, or an image obinit would boot.
Outcome set_default(const Medium& medium, const std::string& name);
Outcome set_oneshot(const Medium& medium, const std::string& name);

// A settings file (settings_table.h) set to value, or removed so that its
// default applies.
Outcome set_setting(const Medium& medium, const std::string& key, const std::string& value);
Outcome unset_setting(const Medium& medium, const std::string& key);

// The PIN lock: four digits, stored as the menu checks them; or none.
Outcome set_pin(const Medium& medium, const std::string& digits);
Outcome remove_pin(const Medium& medium);

// Changes to an image directory. The image the box runs from is never
// removed or renamed; the stored and one-shot choice follow the image.
Outcome remove_image(const Medium& medium, const std::string& name);
// What remove_image would refuse before it deletes anything (to ask first).
Outcome removable_image(const Medium& medium, const std::string& name);
Outcome rename_image(const Medium& medium, const std::string& from, const std::string& to);
Outcome label_image(const Medium& medium, const std::string& name, const std::string& text);

// What an interrupted add or remove left, removed or put back; a line each.
std::vector<std::string> finish_interrupted(const Medium& medium);

// Every finding of check: the medium's own (when no names are given) and
// those of the images named, or of all images.
std::vector<Finding> check_findings(const Medium& medium, const std::vector<std::string>& names);

struct AddRequest {
    std::string name;   // the image's directory name
    std::string label;  // the first word of its .obinfo; "" for the name
    std::string slot;   // "1" to "8": the numbered image instead of name; "" for none
    bool replace = false;
};

// The checks an add makes before it reads its source: the names, the
// medium's file system, the name in use. Leftovers of an interrupted add or
// replace are finished first (watch hears of each).
Outcome add_can_start(const Medium& medium, const AddRequest& request, AddWatch& watch);

// Whether a source that takes at least least_room bytes (0: unknown) fits
// in the medium's free space; add_image asks it of its source, the web page
// of an upload's length before any of it is read.
Outcome room_for(const Medium& medium, const std::string& source, uint64_t least_room);

// Unpacks the opened source under a hidden name, makes obinit's mount
// points and the .obinfo, checks the tree as obinit would, and only then
// gives it its name (in place of the old image with replace). stop ends the
// unpack between two blocks. Nothing is listed after a failure.
Outcome add_image(const Medium& medium, const AddRequest& request, ImageSource& source,
                  AddWatch& watch, const volatile sig_atomic_t& stop);

}  // namespace obctl
