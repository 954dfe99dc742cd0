// The medium as data: what `status --json` and `list --json` print and what
// the web's API answers, made in one place so that the two never differ.
#pragma once

#include <vector>

#include "findings.h"
#include "json.h"
#include "medium_dir.h"
#include "medium_info.h"
#include "medium_view.h"

namespace obctl {

// Every finding of the medium and of each of its images.
std::vector<Finding> all_findings(const Medium& medium, const MediumView& view,
                                  const MediumInfo& info);

// Findings as status --json shows them.
Json findings_report(const std::vector<Finding>& found);

// The medium, the Orbiel version it last ran, the stored and one-shot
// choice, the settings as the programs apply them, the menu's entries and
// the findings.
Json status_report(const Medium& medium);

// The menu's entries in its order, each with obinit's verdict, and the
// image directories it leaves out.
Json list_report(const Medium& medium);

}  // namespace obctl
