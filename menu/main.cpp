#include "orbiel.h"

int main(int argc, char** argv) { return orbiel::orbiel_main(argc, argv); }
