// quorvel_rank_simulator: serves the rank-lookup page on a loopback port for demos and tests.
//
//   quorvel_rank_simulator [--port N] [--data FILE]
//
// N defaults to 18080; 0 lets the system choose a free port. FILE defaults to players.txt next
// to the binary, else the one in the source tree. Once it listens it prints the page's address
// on one line of standard output, then serves until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/simulator/rank_simulator.h"

namespace {

constexpr int kDefaultPort = 18080;

void Usage(const char* argv0) {
  std::fprintf(stderr, "usage: %s [--port N] [--data FILE]\n", argv0);
}

bool ParsePort(const char* s, int* port) {
  char* end = nullptr;
  long v = std::strtol(s, &end, 10);
  if (end == s || *end != '\0' || v < 0 || v > 65535) return false;
  *port = static_cast<int>(v);
  return true;
}

std::string BinaryDir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  std::string path(buf, static_cast<std::size_t>(n));
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string DefaultDataFile() {
  std::string next = BinaryDir() + "/players.txt";
  if (access(next.c_str(), R_OK) == 0) return next;
  return QUORVEL_SIMULATOR_SOURCE_DATA;
}

}  // namespace

int main(int argc, char** argv) {
  int port = kDefaultPort;
  std::string data;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if ((std::strcmp(a, "--port") == 0 || std::strcmp(a, "-p") == 0) && i + 1 < argc) {
      if (!ParsePort(argv[++i], &port)) {
        std::fprintf(stderr, "rank simulator: not a port: %s\n", argv[i]);
        return 2;
      }
    } else if (std::strcmp(a, "--data") == 0 && i + 1 < argc) {
      data = argv[++i];
    } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      Usage(argv[0]);
      return 0;
    } else {
      Usage(argv[0]);
      return 2;
    }
  }
  if (data.empty()) data = DefaultDataFile();

  std::vector<quorvel::tools::SimPlayer> players;
  std::string problems;
  if (!quorvel::tools::LoadPlayers(data, &players, &problems)) {
    std::fprintf(stderr, "rank simulator: %s\n", problems.c_str());
    return 1;
  }
  if (!problems.empty()) std::fprintf(stderr, "rank simulator: skipped:\n%s", problems.c_str());

  // Block the stop signals before any thread starts, so that only sigwait below sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  quorvel::tools::RankSimulator simulator(std::move(players));
  if (simulator.Start(port) < 0) {
    std::fprintf(stderr, "rank simulator: cannot listen on 127.0.0.1:%d\n", port);
    return 1;
  }
  std::fprintf(stderr, "rank simulator: %s, serving until interrupted\n", data.c_str());
  std::printf("%s\n", simulator.Url().c_str());
  std::fflush(stdout);

  int sig = 0;
  sigwait(&stopSignals, &sig);
  simulator.Stop();
  return 0;
}
