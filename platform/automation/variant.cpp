// The Variant conversions that need no code page; shared by every backend of the layer.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/automation/automation.h"

namespace quorvel::platform {

namespace {

void AppendAscii(std::u16string& out, std::string_view ascii) {
  for (char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
}

}  // namespace

// ---- Conversions ------------------------------------------------------------------------

ComObject VariantToObject(const Variant& v) {
  if (const ComObject* o = v.AsObject()) return *o;
  return ComObject();
}

double VariantToNumber(const Variant& v) {
  if (const auto* i = v.AsInt()) return *i;
  if (const auto* d = v.AsDouble()) return *d;
  if (const auto* b = v.AsBool()) return *b ? -1.0 : 0.0;
  if (v.kind() == Variant::Kind::kString || v.kind() == Variant::Kind::kByteArray) {
    std::u16string s;
    if (!VariantToWide(v, s)) return 0.0;
    std::size_t first = s.find_first_not_of(u' ');
    std::size_t last = s.find_last_not_of(u' ');
    if (first == std::u16string::npos) return 0.0;
    std::string ascii;
    for (std::size_t i = first; i <= last; ++i) {
      if (s[i] >= 0x80) return 0.0;
      ascii.push_back(static_cast<char>(s[i]));
    }
    double value = 0.0;
    const char* begin = ascii.data();
    const char* end = begin + ascii.size();
    if (begin != end && *begin == '+') ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) return 0.0;
    return value;
  }
  return 0.0;
}

bool VariantToWide(const Variant& v, std::u16string& out) {
  out.clear();
  switch (v.kind()) {
    case Variant::Kind::kString:
      out = *v.AsString();
      return true;
    case Variant::Kind::kByteArray: {
      const std::string& b = v.AsByteArray()->bytes;
      std::size_t units = b.size() / 2;
      out.resize(units);
      if constexpr (std::endian::native == std::endian::little) {
        if (units) std::memcpy(out.data(), b.data(), units * 2);
      } else {
        for (std::size_t i = 0; i < units; ++i) {
          out[i] = static_cast<char16_t>(static_cast<unsigned char>(b[2 * i]) |
                                         (static_cast<unsigned char>(b[2 * i + 1]) << 8));
        }
      }
      return true;
    }
    case Variant::Kind::kBool:
      AppendAscii(out, *v.AsBool() ? "True" : "False");
      return true;
    case Variant::Kind::kInt:
      AppendAscii(out, std::to_string(*v.AsInt()));
      return true;
    case Variant::Kind::kDouble: {
      char buf[64];
      auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, *v.AsDouble());
      if (ec != std::errc()) return false;
      AppendAscii(out, std::string_view(buf, static_cast<std::size_t>(ptr - buf)));
      return true;
    }
    case Variant::Kind::kEmpty:
    case Variant::Kind::kObject:
      break;
  }
  return false;
}

Variant VariantFromBytes(std::string bytes) {
  return Variant(Variant::ByteArray{std::move(bytes)});
}

std::string VariantToBytes(const Variant& v) {
  if (const auto* a = v.AsByteArray()) return a->bytes;
  if (const auto* s = v.AsString()) {
    std::string bytes;
    bytes.resize(s->size() * 2);
    for (std::size_t i = 0; i < s->size(); ++i) {
      bytes[2 * i] = static_cast<char>((*s)[i] & 0xFF);
      bytes[2 * i + 1] = static_cast<char>((*s)[i] >> 8);
    }
    return bytes;
  }
  return std::string();
}

}  // namespace quorvel::platform
