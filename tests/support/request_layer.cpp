#include "tests/support/request_layer.h"

namespace quorvel::test {

bool IsLayerLine(std::string_view line) {
  const std::string_view name = Trim(line.substr(0, line.find(':')));
  for (std::string_view own : {"Host", "User-Agent", "Content-Length"}) {
    if (IEquals(name, own)) return true;
  }
  return OverWinInet() && (IEquals(name, "Connection") || IEquals(name, "Cache-Control"));
}

std::vector<std::string> CallerLines(const RecordedRequest& request) {
  std::vector<std::string> out;
  for (const std::string& line : request.headerLines) {
    if (!IsLayerLine(line)) out.push_back(line);
  }
  return out;
}

std::string AsSent(std::string_view line) {
  if (!OverWinInet()) return std::string(line);
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::string(line);
  return std::string(Trim(line.substr(0, colon))) + ": " +
         std::string(Trim(line.substr(colon + 1)));
}

bool TunnelCarriesTheRequestsAgentLine() { return OverWinInet(); }

bool HasLibcurlSizeLimits() { return !OverWinInet(); }

}  // namespace quorvel::test
