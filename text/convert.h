// Conversion between GBK, UTF-8 and UTF-16LE text, and the helper that turns the UTF-8
// literals of the sources into GBK Text.
#pragma once

#include <string_view>

#include "text/text.h"

namespace quorvel {

inline constexpr int kCodePageGbk = 936;
inline constexpr int kCodePageUtf8 = 65001;

// Every conversion takes any bytes. Malformed input is replaced, never rejected: an invalid
// UTF-8 or GBK sequence reads as U+FFFD, and a character GBK lacks is written as '?'. An
// unknown code page gives the empty value.

// UTF-16LE form of the Text read in codePage, followed by one zero unit (the empty Text
// gives just that unit).
Bytes TextToWide(const Text& t, int codePage = kCodePageUtf8);
// UTF-16LE units up to the first zero unit (all whole units when there is none; an odd
// last byte is ignored), converted to codePage.
Text WideToText(const Bytes& wide, int codePage);
// GBK -> UTF-8 bytes, as TextToWide(gbk, 936) then WideToText(.., 65001).
Text AnsiToUtf8(const Text& gbk);
// UTF-8 bytes -> GBK, as TextToWide(utf8) then WideToText(.., 936): an invalid UTF-8
// sequence arrives as one '?'.
Text Utf8ToAnsi(const Text& utf8);
// TextToWide(gbk, 936).
Bytes GbkToWide(const Text& gbk);
// All whole units of the Bytes (an odd last byte is ignored), composed, to GBK; the Text
// ends before the first zero byte.
Text WideToGbk(const Bytes& wide);

// A UTF-8 string (a literal of the sources) as GBK Text.
Text Gbk(std::string_view utf8);

}  // namespace quorvel
