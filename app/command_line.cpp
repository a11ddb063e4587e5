#include "app/command_line.h"

#include <string_view>

#include "app/rank_url.h"
#include "app/version.h"

namespace quorvel {

std::string Usage() {
  return "Usage: quorvel [-h | --help] [-V | --version]\n"
         "Looks up the hidden ranked score of a player on the Chinese game servers: pick the\n"
         "server region, type the player ID and press the button. Without arguments it opens\n"
         "its window.\n"
         "\n"
         "  -h, --help     show this help and exit\n"
         "  -V, --version  show the version and the rank-lookup address, and exit\n";
}

CommandLine ReadCommandLine(int argc, const char* const* argv) {
  CommandLine result;
  bool help = false;
  bool version = false;
  for (int i = 1; i < argc && argv && argv[i]; ++i) {
    const std::string_view arg(argv[i]);
    if (arg == "-h" || arg == "--help") {
      help = true;
    } else if (arg == "-V" || arg == "--version") {
      version = true;
    } else {
      result.openWindow = false;
      result.exitCode = 2;
      // Control bytes are shown as "?", so the message stays one line.
      std::string shown(arg);
      for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
      }
      const bool option = arg.size() > 1 && arg.front() == '-';
      result.err = std::string("quorvel: ") +
                   (option ? "unknown option '" : "unexpected argument '") + shown + "'\n" +
                   Usage();
      return result;
    }
  }
  if (help) {
    result.openWindow = false;
    result.out = Usage();
  } else if (version) {
    result.openWindow = false;
    result.out = std::string("quorvel ") + QUORVEL_VERSION +
                 "\nrank-lookup page: " + QUORVEL_RANK_URL + "\n";
  }
  return result;
}

}  // namespace quorvel
