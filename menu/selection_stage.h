// The selection stage: the remote's keys move the highlight over the list
// until OK boots the highlighted entry, EXIT or the time-out keeps the
// preselected one.
#pragma once

namespace orbiel {

// Runs the stage on the drawn list; returns the entry chosen. A new choice is
// written into the selection file and marked in green, or in white when
// another boot manager is installed (foreign_manager).
int selection_stage(bool foreign_manager);

}  // namespace orbiel
