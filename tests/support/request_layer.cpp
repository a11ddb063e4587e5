#include "tests/support/request_layer.h"

namespace quorvel::test {
namespace {

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

#ifdef _WIN32
constexpr bool kWinInet = true;
#else
constexpr bool kWinInet = false;
#endif

}  // namespace

bool IsLayerLine(std::string_view line) {
  const std::string_view name = Trim(line.substr(0, line.find(':')));
  for (std::string_view own : {"Host", "User-Agent", "Content-Length"}) {
    if (IEquals(name, own)) return true;
  }
  return kWinInet && (IEquals(name, "Connection") || IEquals(name, "Cache-Control"));
}

std::vector<std::string> CallerLines(const RecordedRequest& request) {
  std::vector<std::string> out;
  for (const std::string& line : request.headerLines) {
    if (!IsLayerLine(line)) out.push_back(line);
  }
  return out;
}

std::string AsSent(std::string_view line) {
  if (!kWinInet) return std::string(line);
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::string(line);
  return std::string(Trim(line.substr(0, colon))) + ": " +
         std::string(Trim(line.substr(colon + 1)));
}

bool TunnelCarriesTheRequestsAgentLine() { return kWinInet; }

bool HasLibcurlSizeLimits() { return !kWinInet; }

}  // namespace quorvel::test
