#include "tests/support/tinyproxy_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "tests/support/net_util.h"

extern char** environ;

namespace quorvel::test {
namespace {

std::string FindTinyproxy() {
#ifdef QUORVEL_TINYPROXY_PATH
  if (access(QUORVEL_TINYPROXY_PATH, X_OK) == 0) return QUORVEL_TINYPROXY_PATH;
#endif
  const char* path = std::getenv("PATH");
  std::string dirs = std::string(path ? path : "") + ":/usr/bin:/usr/sbin:/usr/local/bin";
  std::size_t begin = 0;
  while (begin <= dirs.size()) {
    std::size_t end = dirs.find(':', begin);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(begin, end - begin) + "/tinyproxy";
    if (end > begin && access(candidate.c_str(), X_OK) == 0) return candidate;
    begin = end + 1;
  }
  return "";
}

bool Exited(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == pid;
}

}  // namespace

TinyproxyRunner::TinyproxyRunner() {
  if (dir_.path().empty()) {
    error_ = "no temporary directory";
    return;
  }
  const std::string binary = FindTinyproxy();
  if (binary.empty()) {
    error_ = "tinyproxy not found (scripts/setup.sh installs it)";
    return;
  }
  // The free port can be taken by someone else before tinyproxy binds it; try a few.
  for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) {
    const int port = FreeLoopbackPort();
    if (port > 0 && StartOn(port, binary)) port_ = port;
  }
}

TinyproxyRunner::~TinyproxyRunner() { Kill(); }

bool TinyproxyRunner::StartOn(int port, const std::string& binary) {
  // No ConnectPort line: tunnels may go to any port (the test servers use free ports).
  const std::string config = "Port " + std::to_string(port) +
                             "\n"
                             "Listen 127.0.0.1\n"
                             "Timeout 60\n"
                             "MaxClients 32\n"
                             "Allow 127.0.0.1\n"
                             "LogLevel Info\n"
                             "LogFile \"" +
                             dir_.path() + "/tinyproxy.log\"\n";
  const std::string confPath = dir_.WriteFile("tinyproxy.conf", config);
  if (confPath.empty()) {
    error_ = "cannot write the configuration";
    return false;
  }
  const std::string outPath = dir_.path() + "/tinyproxy.out";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::vector<std::string> args = {binary, "-d", "-c", confPath};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    error_ = "cannot start " + binary;
    return false;
  }
  pid_ = pid;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Exited(pid_)) {
      pid_ = -1;
      error_ = "tinyproxy exited: " + dir_.ReadFile("tinyproxy.out") + Log();
      return false;
    }
    if (WaitForListener(port, std::chrono::milliseconds(200))) return true;
  }
  error_ = "tinyproxy did not start listening on port " + std::to_string(port);
  Kill();
  return false;
}

void TinyproxyRunner::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Exited(pid_)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      int status = 0;
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

std::string TinyproxyRunner::Log() const { return dir_.ReadFile("tinyproxy.log"); }

}  // namespace quorvel::test
