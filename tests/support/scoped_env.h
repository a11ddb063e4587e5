// Sets (or removes) an environment variable for the life of the object, then restores it.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace quorvel::test {

namespace detail {
// The process environment, through the host's own calls (env_posix.cpp, env_win32.cpp).
void SetEnv(const char* name, const char* value);
void UnsetEnv(const char* name);  // on Windows an empty value removes the variable
}  // namespace detail

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      detail::SetEnv(name, value->c_str());
    } else {
      detail::UnsetEnv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      detail::SetEnv(name_.c_str(), old_->c_str());
    } else {
      detail::UnsetEnv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace quorvel::test
