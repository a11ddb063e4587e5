// The pattern dialect of the "VBScript.RegExp" class, read and rewritten for PCRE2 (16-bit
// code units, no UTF, no UCP).
//
// The dialect: `(` `(?:` `(?=` `(?!` groups, alternatives, `* + ? {n} {n,} {n,m}` each with an
// optional lazy `?`, classes, `.` (every unit but LF), `^ $` (with Multiline also beside each
// LF and CR), `\b \B \d \D \w \W \s \S` (ASCII), `\f \n \r \t \v`, `\xhh` (exactly two hex
// digits), `\uhhhh` (exactly four), `\cX` (X a letter), octal escapes up to 0377 and
// back-references by the count of groups opened before them. Any other escaped character
// stands for itself; every other `(?` form, a quantifier with nothing to repeat, a second
// quantifier, a bad range, an unclosed class or group and a trailing backslash are errors.
//
// A repetition whose body can match empty and that requires at most one iteration (`*`, `?`,
// `+`, `{0,m}`, `{1,m}`, ...) carries hidden marker groups and string callouts, so an
// optional iteration that consumes nothing fails and leaves no capture (see
// IterationMustFail); the hidden groups are mapped away by `groups`. With two or more
// required iterations the optional ones follow PCRE2: one may match empty, then the
// repetition stops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::platform::regexp {

struct Translation {
  std::u16string pattern;        // for PCRE2, compiled without MULTILINE or DOTALL
  std::vector<uint32_t> groups;  // the PCRE2 group number of each group of the dialect
  bool callouts = false;         // the pattern carries iteration callouts
};

// Reads `pattern` in the dialect. Returns false on a syntax error.
bool TranslatePattern(std::u16string_view pattern, bool multiline, Translation& out);

// The iteration callout's verdict: `argument` is its callout string, `ovector` the offsets of
// the `captureTop` - 1 groups set so far and `position` the current offset. True when the
// iteration that ends here consumed nothing and must fail.
bool IterationMustFail(std::u16string_view argument, const std::size_t* ovector,
                       uint32_t captureTop, std::size_t position);

}  // namespace quorvel::platform::regexp
