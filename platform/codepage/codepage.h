// Conversion between multi-byte code pages and UTF-16, with size queries.
//
// Contract of both calls: with no output buffer (out == nullptr or capacity 0) they return
// the number of units (or bytes) the conversion needs; with a buffer they convert into it
// and return the number written, or 0 when it does not fit. An input length of -1 means
// "up to the terminating zero, which is converted and counted too". A result of 0 means
// the input was refused (an empty input, an unknown code page, a bad argument).
#pragma once

namespace quorvel::platform {

inline constexpr unsigned kCodePageGbk = 936;
inline constexpr unsigned kCodePageUtf8 = 65001;
// The code page that plain (ANSI) text of this system is in.
inline constexpr unsigned kAnsiCodePage = kCodePageGbk;

// Flag for WideToMultiByte: write a base character followed by a combining mark as the
// precomposed character where the code page has one.
inline constexpr unsigned kCompositeCheck = 0x200;

// Multi-byte -> UTF-16. Malformed UTF-8 becomes U+FFFD.
int MultiByteToWide(unsigned codePage, unsigned flags, const char* in, int inBytes,
                    char16_t* out, int outUnits);

// UTF-16 -> multi-byte. A character the code page lacks becomes '?'.
int WideToMultiByte(unsigned codePage, unsigned flags, const char16_t* in, int inUnits,
                    char* out, int outBytes);

}  // namespace quorvel::platform
