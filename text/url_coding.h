// Percent-encoding for form bodies and percent-decoding of received pages.
#pragma once

#include "text/text.h"

namespace quorvel {

// Every byte of t as "%" and two upper-case hex digits. With keep, the bytes "-", ".", 0-9,
// A-Z and a-z stay as they are (nothing else does: "/", "_", "~" and space are encoded).
// With utf8, t is converted from GBK to UTF-8 first. The empty Text gives the empty Text.
Text UrlEncode(const Text& t, bool keep = false, bool utf8 = false);

// Decodes percent sequences. A "%" always takes the next two bytes, whatever they are: each
// counts as its hex value, -2 when it is no hex digit and 0 when it lies beyond the end, and
// the low 8 bits of 16 * first + second are appended, nothing when they are 0. "+" stays.
// With utf8, the decoded bytes are then converted from UTF-8 to GBK.
Text UrlDecode(const Text& t, bool utf8 = false);

}  // namespace quorvel
