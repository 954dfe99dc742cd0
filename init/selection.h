// The image chosen in the menu, as the selection file on the medium names it.
#pragma once

namespace obinit {

// Into state().selection; anything that is not a plain directory name
// becomes "Flash".
void read_selection();

// The one-shot file's image into state().selection, the file removed and
// the removal on the medium first, so that a power cut or a hang during that
// boot brings the stored choice back. False (nothing chosen) without the
// file, and, after a line that says why, for a file that names nothing
// usable or an image that would not boot (removed too: the stored choice
// boots instead) or that cannot be removed (then it is not honoured: it
// would boot again and again).
bool take_one_shot();

}  // namespace obinit
