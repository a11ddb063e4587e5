// Code-page conversion over the system's MultiByteToWideChar and WideCharToMultiByte, looked
// up by name in kernel32 on first use. The system keeps no state between calls, so every
// call stands alone; a size query passes no output buffer, as the layer's contract does.
#include "platform/codepage/codepage.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace quorvel::platform {
namespace {

using MultiByteToWideCharFn = int(WINAPI*)(UINT, DWORD, LPCCH, int, LPWSTR, int);
using WideCharToMultiByteFn = int(WINAPI*)(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL);

struct Kernel32 {
  MultiByteToWideCharFn toWide = nullptr;
  WideCharToMultiByteFn fromWide = nullptr;
};

const Kernel32& Functions() {
  static const Kernel32 k = [] {
    Kernel32 f;
    if (HMODULE m = GetModuleHandleW(L"kernel32.dll")) {
      f.toWide = reinterpret_cast<MultiByteToWideCharFn>(
          reinterpret_cast<void*>(GetProcAddress(m, "MultiByteToWideChar")));
      f.fromWide = reinterpret_cast<WideCharToMultiByteFn>(
          reinterpret_cast<void*>(GetProcAddress(m, "WideCharToMultiByte")));
    }
    return f;
  }();
  return k;
}

bool Known(unsigned codePage) { return codePage == kCodePageGbk || codePage == kCodePageUtf8; }

// The system's flags for one conversion to `codePage`: it takes the composite check only for
// the ANSI code pages, so UTF-8 is written as it stands.
DWORD ToMultiByteFlags(unsigned codePage, unsigned flags) {
  return codePage == kCodePageGbk && (flags & kCompositeCheck) ? WC_COMPOSITECHECK : 0;
}

}  // namespace

int MultiByteToWide(unsigned codePage, unsigned flags, const char* in, int inBytes, char16_t* out,
                    int outUnits) {
  if (flags != 0 || in == nullptr || inBytes == 0 || inBytes < -1 || outUnits < 0 ||
      !Known(codePage)) {
    return 0;
  }
  const Kernel32& k = Functions();
  if (!k.toWide) return 0;
  const bool query = out == nullptr || outUnits == 0;
  const int n = k.toWide(codePage, 0, in, inBytes, query ? nullptr : reinterpret_cast<LPWSTR>(out),
                         query ? 0 : outUnits);
  return n > 0 ? n : 0;
}

int WideToMultiByte(unsigned codePage, unsigned flags, const char16_t* in, int inUnits, char* out,
                    int outBytes) {
  if ((flags & ~kCompositeCheck) != 0 || in == nullptr || inUnits == 0 || inUnits < -1 ||
      outBytes < 0 || !Known(codePage)) {
    return 0;
  }
  const Kernel32& k = Functions();
  if (!k.fromWide) return 0;
  const bool query = out == nullptr || outBytes == 0;
  const int n = k.fromWide(codePage, ToMultiByteFlags(codePage, flags),
                           reinterpret_cast<LPCWCH>(in), inUnits, query ? nullptr : out,
                           query ? 0 : outBytes, nullptr, nullptr);
  return n > 0 ? n : 0;
}

int MultiByteToMultiByte(unsigned fromCodePage, const char* in, int inBytes, unsigned toCodePage,
                         char* out, int outBytes) {
  if (fromCodePage == toCodePage || in == nullptr || inBytes == 0 || inBytes < -1 ||
      outBytes < 0 || !Known(fromCodePage) || !Known(toCodePage)) {
    return 0;
  }
  const int units = MultiByteToWide(fromCodePage, 0, in, inBytes, nullptr, 0);
  if (units <= 0) return 0;
  std::u16string wide;
  try {
    wide.resize(static_cast<std::size_t>(units));
  } catch (...) {
    return 0;
  }
  if (MultiByteToWide(fromCodePage, 0, in, inBytes, wide.data(), units) != units) return 0;
  return WideToMultiByte(toCodePage, 0, wide.data(), units, out, outBytes);
}

}  // namespace quorvel::platform
