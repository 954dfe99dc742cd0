// check: every finding on the medium and its images, after what an
// interrupted obctl left is put right.
#include "leftovers.h"
#include "medium.h"
#include "medium_info.h"
#include "medium_view.h"
#include "operations.h"

namespace obctl {

namespace {

bool wanted(const std::vector<std::string>& names, const std::string& name) {
    if (names.empty()) return true;
    for (const std::string& wanted_name : names)
        if (wanted_name == name) return true;
    return false;
}

}  // namespace

std::vector<std::string> finish_interrupted(const Medium& medium) {
    return clean_leftovers(medium);
}

std::vector<Finding> check_findings(const Medium& medium, const std::vector<std::string>& names) {
    const MediumView view = look_at(medium);
    std::vector<Finding> found;
    if (names.empty()) found = medium_findings(medium, view, medium_info(medium));
    for (const std::string& name : names)
        if (find_image(view, name) == nullptr)
            found.push_back({Severity::error, shown_image(name), "no such image"});
    for (const ImageState& image : view.images) {
        if (!wanted(names, image.entry.name)) continue;
        const std::vector<Finding> more = image_findings(medium, view, image, !names.empty());
        found.insert(found.end(), more.begin(), more.end());
    }
    return found;
}

}  // namespace obctl
