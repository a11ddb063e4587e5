#include "tests/platform/wine.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace quorvel::test {

bool UnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

}  // namespace quorvel::test
