#include "tests/support/temp_dir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

namespace quorvel::test {

TempDir::TempDir() {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) base = ".";
  std::random_device seed;
  std::mt19937_64 random(seed() ^ static_cast<std::uint64_t>(
                                      std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        base / ("quorvel-test-" + std::to_string(random() % 1000000000000ull));
    if (std::filesystem::create_directory(candidate, ec) && !ec) {
      std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::replace, ec);
      path_ = candidate.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::WriteFile(const std::string& name, const std::string& content) const {
  if (path_.empty()) return "";
  const std::string full = (std::filesystem::path(path_) / name).string();
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  return out ? full : "";
}

std::string TempDir::ReadFile(const std::string& name) const {
  std::ifstream in((std::filesystem::path(path_) / name).string(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace quorvel::test
