// Questions to the user at the terminal: obctl's only input besides its
// command line.
#pragma once

#include <string>

namespace obctl {

// Shows prompt on standard error and reads one line from standard input,
// without echo when that is a terminal. False at the end of the input.
bool read_secret(const char* prompt, std::string& line);

// Asks a yes-or-no question; true only for an answer beginning with y.
// False without a terminal to ask at.
bool confirmed(const std::string& question);

}  // namespace obctl
