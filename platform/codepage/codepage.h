// Conversion between multi-byte code pages and UTF-16, with size queries.
//
// Contract of both calls:
// - With no output buffer (out == nullptr or capacity 0) they return the number of units (or
//   bytes) the conversion needs; with a buffer they convert into it and return the number
//   written, or 0 when it does not fit (the buffer's content is then unspecified, and nothing
//   is ever written past its capacity).
// - An input length of -1 means "up to the terminating zero, which is converted and counted
//   too"; an explicit length converts exactly that many bytes (units), zeros included.
// - A result of 0 means the input was refused: an empty input, a null input, a length below
//   -1, a negative capacity, an unknown code page or flag, or a result longer than INT_MAX.
// - Only kCodePageGbk and kCodePageUtf8 are known. Both calls are safe from any number of
//   threads at once and keep no state from one call to the next.
#pragma once

namespace quorvel::platform {

inline constexpr unsigned kCodePageGbk = 936;
inline constexpr unsigned kCodePageUtf8 = 65001;
// The code page that plain (ANSI) text of this system is in.
inline constexpr unsigned kAnsiCodePage = kCodePageGbk;

// Flag for WideToMultiByte: write a base character followed by a combining mark as the
// precomposed character where the code page has one. A combination the code page lacks is
// written as it stands (base, then mark, each mapped on its own). Canonical singletons
// (compatibility ideographs, the ohm sign) are left as they are.
inline constexpr unsigned kCompositeCheck = 0x200;

// Multi-byte -> UTF-16. flags must be 0. Malformed UTF-8 becomes U+FFFD, one for each
// maximal invalid subsequence (0xDE 'a' gives U+FFFD 'a'); an invalid or unassigned GBK
// byte sequence becomes U+FFFD likewise. Code page 936 is the full table with its
// extensions: 0x80 is the euro sign, A1 A1 the ideographic space, 0xFF reads as U+F8F5.
int MultiByteToWide(unsigned codePage, unsigned flags, const char* in, int inBytes, char16_t* out,
                    int outUnits);

// UTF-16 -> multi-byte. flags is 0 or kCompositeCheck. A character the code page lacks
// becomes '?' (one '?' for a character outside the BMP given as a surrogate pair); an
// unpaired surrogate becomes '?' in GBK and U+FFFD in UTF-8.
int WideToMultiByte(unsigned codePage, unsigned flags, const char16_t* in, int inUnits, char* out,
                    int outBytes);

// Multi-byte -> multi-byte in one pass, the same as MultiByteToWide followed by
// WideToMultiByte with flags 0 (the same replacements), without the UTF-16 text in between.
// The two code pages must differ.
int MultiByteToMultiByte(unsigned fromCodePage, const char* in, int inBytes, unsigned toCodePage,
                         char* out, int outBytes);

// Backends: on Linux ICU carries out the conversions, with the results described above. On
// Windows the system's MultiByteToWideChar and WideCharToMultiByte do, and where the
// system's answer is its own the contract is the system's:
// - Malformed UTF-8 still becomes U+FFFD, but how many the system writes for an encoded
//   surrogate or a form above U+10FFFF is its own (at least one).
// - kCompositeCheck composes a base with the one mark after it; a further mark is mapped
//   on its own. It acts on GBK only: UTF-8 output is never composed.
}  // namespace quorvel::platform
