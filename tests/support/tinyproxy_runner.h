// A real tinyproxy for tests: started in the foreground with its own configuration in a
// temporary directory, listening on a free loopback port, allowing 127.0.0.1 and tunnels to
// any port; stopped (and waited for) on destruction. On Windows (under Wine) it runs as a
// process of the Linux host.
#pragma once

#include <memory>
#include <string>

#ifndef _WIN32
#include <sys/types.h>
#endif

#include "tests/support/temp_dir.h"

namespace quorvel::test {

class TinyproxyRunner {
 public:
  TinyproxyRunner();
  ~TinyproxyRunner();
  TinyproxyRunner(const TinyproxyRunner&) = delete;
  TinyproxyRunner& operator=(const TinyproxyRunner&) = delete;

  bool ok() const { return port_ > 0; }
  // Why starting failed, for the test's failure message.
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  // What tinyproxy has logged so far (one line per event; requests appear as
  // "Request (file descriptor N): GET http://... HTTP/1.1" or "... CONNECT host:port ...").
  std::string Log() const;

 private:
  bool StartOn(int port, const std::string& binary);
  void Kill();

  TempDir dir_;
#ifdef _WIN32
  std::unique_ptr<class LinuxProcess> process_;
#else
  pid_t pid_ = -1;
#endif
  int port_ = 0;
  std::string error_;
};

}  // namespace quorvel::test
