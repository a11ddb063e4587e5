// Whether a display is there, judged before the toolkit starts: a stale DISPLAY must give
// a clear "no display" rather than a toolkit that aborts. A real socket at the X socket
// address stands for a local display: stale while it does not listen, live once it does.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/ui.h"

namespace quorvel::platform {
namespace {

// Takes the abstract socket name of X display number n without listening on it yet, so the
// name stays ours while nothing answers; -1 when that name is taken.
int ReserveDisplay(int n) {
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return -1;  // a real display of that number
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, path.data(), path.size());
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* var : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) {
      if (const char* v = std::getenv(var)) saved_.emplace_back(var, v);
      ::unsetenv(var);
    }
  }
  void TearDown() override {
    for (const char* var : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) ::unsetenv(var);
    for (const auto& [var, value] : saved_) ::setenv(var.c_str(), value.c_str(), 1);
  }
  static bool AvailableWith(const std::string& display) {
    ::setenv("DISPLAY", display.c_str(), 1);
    return UiDisplayAvailable();
  }

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(DisplayTest, NothingNamedIsNoDisplay) {
  EXPECT_FALSE(UiDisplayAvailable());
  EXPECT_FALSE(AvailableWith(""));
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  EXPECT_TRUE(UiDisplayAvailable());
}

TEST_F(DisplayTest, LocalDisplayCountsOnlyWhileItsSocketAnswers) {
  int n = 4000 + static_cast<int>(::getpid() % 1000);
  int fd = -1;
  for (int tries = 0; tries < 200 && fd < 0; ++tries) fd = ReserveDisplay(++n);
  ASSERT_GE(fd, 0) << "no free display number";
  const std::string number = std::to_string(n);
  // The name is taken but nothing listens: a stale DISPLAY.
  EXPECT_FALSE(AvailableWith(":" + number));
  EXPECT_FALSE(AvailableWith(":" + number + ".0"));
  EXPECT_FALSE(AvailableWith("unix:" + number));
  ASSERT_EQ(::listen(fd, 8), 0);
  EXPECT_TRUE(AvailableWith(":" + number));
  EXPECT_TRUE(AvailableWith(":" + number + ".0"));
  EXPECT_TRUE(AvailableWith("unix:" + number));
  ::close(fd);
}

TEST_F(DisplayTest, MalformedAndRemoteNames) {
  for (const char* bad : {"nonsense", ":", ":x", ":1x", ":-1", ":99999999999"}) {
    EXPECT_FALSE(AvailableWith(bad)) << bad;
  }
  // A display on another host is the toolkit's to reach.
  EXPECT_TRUE(AvailableWith("otherhost:0"));
}

}  // namespace
}  // namespace quorvel::platform
