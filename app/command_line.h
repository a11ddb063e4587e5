// The command line of the tool, read before the window toolkit starts, so that --help and
// --version work without a display. Any other argument is refused.
#pragma once

#include <string>

namespace quorvel {

struct CommandLine {
  bool openWindow = true;  // no argument: start the window
  int exitCode = 0;        // otherwise the process ends with this code ...
  std::string out;         // ... after writing this to standard output
  std::string err;         // and this to standard error
};

// The usage text, ended by a line feed.
std::string Usage();

// argv[0] is the program's name; the others are its arguments (any bytes). "-h"/"--help"
// prints the usage and "-V"/"--version" the version and the rank-lookup address, both on
// standard output with exit code 0 (help wins when both are given). Anything else is a
// one-line message naming the first unknown argument and the usage, on standard error, with
// exit code 2.
CommandLine ReadCommandLine(int argc, const char* const* argv);

}  // namespace quorvel
