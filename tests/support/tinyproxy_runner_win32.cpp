// tinyproxy as a process of the Linux host beside the Wine process.
#include <chrono>

#include "tests/support/linux_process.h"
#include "tests/support/net_util.h"
#include "tests/support/tinyproxy_runner.h"

namespace quorvel::test {

TinyproxyRunner::TinyproxyRunner() {
  // The free port can be taken by someone else before tinyproxy binds it; try a few.
  for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) {
    const int port = FreeLoopbackPort();
    if (port > 0 && StartOn(port, "tinyproxy")) port_ = port;
  }
}

TinyproxyRunner::~TinyproxyRunner() { Kill(); }

bool TinyproxyRunner::StartOn(int port, const std::string& binary) {
  // No ConnectPort line: tunnels may go to any port (the test servers use free ports). The
  // log goes into the process's own directory, which the test reads through its own path.
  const std::string config = "Port " + std::to_string(port) +
                             "\n"
                             "Listen 127.0.0.1\n"
                             "Timeout 60\n"
                             "MaxClients 32\n"
                             "Allow 127.0.0.1\n"
                             "LogLevel Info\n"
                             "LogFile \"@DIR@/tinyproxy.log\"\n";
  process_ = std::make_unique<LinuxProcess>(
      "sed -i \"s|@DIR@|$PWD|\" tinyproxy.conf && exec " + binary +
          " -d -c \"$PWD/tinyproxy.conf\"",
      std::vector<std::pair<std::string, std::string>>{{"tinyproxy.conf", config}});
  if (!process_->ok()) {
    error_ = process_->error();
    process_.reset();
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (process_->Ended()) {
      error_ = "tinyproxy exited (scripts/setup.sh installs it): " + process_->Output() + Log();
      process_.reset();
      return false;
    }
    if (WaitForListener(port, std::chrono::milliseconds(200))) return true;
  }
  error_ = "tinyproxy did not start listening on port " + std::to_string(port);
  Kill();
  return false;
}

void TinyproxyRunner::Kill() {
  if (process_) process_->Stop();
}

std::string TinyproxyRunner::Log() const {
  return process_ ? process_->dir().ReadFile("tinyproxy.log") : "";
}

}  // namespace quorvel::test
