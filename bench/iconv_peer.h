// glibc iconv as the peer of our conversions in the benchmarks: whole-buffer conversion that
// aborts the run on failure, since a peer that failed would make the comparison meaningless.
#pragma once

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace quorvel::bench {

inline iconv_t IconvOpen(const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    std::perror("iconv_open");
    std::abort();
  }
  return cd;
}

// Converts all of in; bound is the most output it can make.
inline std::string Iconv(iconv_t cd, std::string_view in, std::size_t bound) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out(bound, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
    std::fprintf(stderr, "iconv failed: %d\n", errno);
    std::abort();
  }
  out.resize(out.size() - dstLeft);
  return out;
}

}  // namespace quorvel::bench
