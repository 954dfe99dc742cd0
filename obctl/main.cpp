#include "obctl.h"

int main(int argc, char** argv) { return obctl::obctl_main(argc, argv); }
