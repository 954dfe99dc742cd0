// The image chosen in the menu, as the selection file on the medium names it.
#pragma once

namespace obinit {

// Into state().selection; anything that is not a plain directory name
// becomes "Flash".
void read_selection();

}  // namespace obinit
