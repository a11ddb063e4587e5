// Variant <-> ANSI text, through the system's ANSI code page. Kept apart from the rest of
// the layer so that only these two conversions need the code-page layer.
#include <climits>
#include <string>

#include "platform/automation/automation.h"
#include "platform/codepage/codepage.h"

namespace quorvel::platform {

Variant VariantFromAnsi(std::string_view ansi) {
  ansi = ansi.substr(0, ansi.find('\0'));
  if (ansi.empty() || ansi.size() > static_cast<std::size_t>(INT_MAX)) {
    return Variant(std::u16string());
  }
  const int inBytes = static_cast<int>(ansi.size());
  int units = MultiByteToWide(kAnsiCodePage, 0, ansi.data(), inBytes, nullptr, 0);
  std::u16string wide(static_cast<std::size_t>(units > 0 ? units : 0), u'\0');
  if (units > 0 &&
      MultiByteToWide(kAnsiCodePage, 0, ansi.data(), inBytes, wide.data(), units) != units) {
    wide.clear();
  }
  return Variant(std::move(wide));
}

std::string VariantToAnsi(const Variant& v) {
  std::u16string wide;
  if (!VariantToWide(v, wide)) return std::string();
  if (auto zero = wide.find(u'\0'); zero != std::u16string::npos) wide.resize(zero);
  if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) return std::string();
  const int inUnits = static_cast<int>(wide.size());
  int bytes = WideToMultiByte(kAnsiCodePage, 0, wide.data(), inUnits, nullptr, 0);
  if (bytes <= 0) return std::string();
  std::string ansi(static_cast<std::size_t>(bytes), '\0');
  if (WideToMultiByte(kAnsiCodePage, 0, wide.data(), inUnits, ansi.data(), bytes) != bytes) {
    return std::string();
  }
  return ansi;
}

}  // namespace quorvel::platform
