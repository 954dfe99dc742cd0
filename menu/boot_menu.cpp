// Until the menu proper exists, the program shows its start logo and ends.
#include "boot_menu.h"

#include "logo.h"

namespace orbiel {

int boot_menu(int, int) {
    show_start_logo();
    return 0;
}

}  // namespace orbiel
