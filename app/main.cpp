// Start-up: the command line, then the toolkit, the query window, the message loop.
#include <cstdio>

#include "app/command_line.h"
#include "app/query_window.h"
#include "platform/ui/ui.h"

int main(int argc, char** argv) {
  const quorvel::CommandLine line = quorvel::ReadCommandLine(argc, argv);
  if (!line.openWindow) {
    std::fputs(line.out.c_str(), stdout);
    std::fputs(line.err.c_str(), stderr);
    return line.exitCode;
  }
  quorvel::platform::UiApplication app;
  if (!app.ok()) {
    std::fputs(
        "quorvel: no display found; start it from a desktop session, or under xvfb-run for a "
        "virtual one\n",
        stderr);
    return 1;
  }
  quorvel::QueryWindow window;
  window.Show();
  app.Run();
  return 0;
}
