// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
#pragma once

#include <string>

namespace quorvel::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes content to path()/name and returns the full path ("" when writing failed).
  std::string WriteFile(const std::string& name, const std::string& content) const;
  // The content of path()/name, or "" when it cannot be read.
  std::string ReadFile(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace quorvel::test
