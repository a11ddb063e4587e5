// Programs of the Linux host started from a Windows test under Wine (tinyproxy, the openssl
// tool, a TLS relay), which Wine's CreateProcess runs as Unix processes. Wine hands back no
// usable process handle for them, so each runs under a small shell script that watches a
// lifeline file in its own directory: removing the file ends the program, and the script
// notes its exit status in a file the test can read. Windows only.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quorvel::test {

// The host's path of a Windows path, or "" when there is none (not under Wine).
std::string UnixPath(const std::string& windowsPath);

class LinuxProcess {
 public:
  // Starts command (a /bin/sh command line, run in dir() with the host's usual PATH); it runs
  // until Stop(), the object's end, or an hour at most, so that nothing outlives a test run.
  // files (name, content) are written into dir() before it starts.
  explicit LinuxProcess(const std::string& command,
                        const std::vector<std::pair<std::string, std::string>>& files = {});
  ~LinuxProcess();
  LinuxProcess(const LinuxProcess&) = delete;
  LinuxProcess& operator=(const LinuxProcess&) = delete;

  bool ok() const { return started_; }
  const std::string& error() const { return error_; }
  // The process's own directory, as the test sees it and as the host sees it.
  const TempDir& dir() const { return dir_; }
  const std::string& unixDir() const { return unixDir_; }
  // True once the command has ended (by itself or through Stop).
  bool Ended() const;
  // What the command wrote to its standard output and error.
  std::string Output() const { return dir_.ReadFile("output"); }
  // Ends the command and waits for it (10 seconds at most).
  void Stop();

  // Runs command to its end and returns its exit status, or -1 when it could not be run or
  // did not end within limit; *output receives what it printed.
  static int Run(const std::string& command, std::chrono::seconds limit, std::string* output);

 private:
  bool Launch(const std::string& script);

  TempDir dir_;
  std::string unixDir_;
  bool started_ = false;
  std::string error_;
};

}  // namespace quorvel::test
