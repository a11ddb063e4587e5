// Start-up: the toolkit, the query window, the message loop.
#include <cstdio>

#include "app/query_window.h"
#include "platform/ui/ui.h"

int main() {
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
