#include "platform/inet/header_block.h"

#include <charconv>

namespace quorvel::platform {
namespace {

bool IsLocationLine(std::string_view line) {
  constexpr std::string_view kName = "location:";
  if (line.size() < kName.size()) return false;
  for (std::size_t i = 0; i < kName.size(); ++i) {
    char c = line[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kName[i]) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

HeaderBlockReader::Step HeaderBlockReader::Take(std::string_view line) {
  if (ended_) return Step::kIgnored;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.empty()) {
    if (status_ >= 100 && status_ < 200) {
      Reset();
      return Step::kInterim;
    }
    raw_ += "\r\n";
    ended_ = true;
    return Step::kEnd;
  }
  if (atStart_) {
    atStart_ = false;
    if (line.substr(0, 5) == "HTTP/") {
      const std::size_t sp = line.find(' ');
      if (sp != std::string_view::npos) {
        const std::string_view code = line.substr(sp + 1, 3);
        int value = 0;
        const auto [end, ec] = std::from_chars(code.data(), code.data() + code.size(), value);
        if (ec == std::errc() && value >= 0) status_ = value;
      }
    }
  } else if (IsLocationLine(line)) {
    location_ = std::string(TrimBlanks(line.substr(9)));
  }
  raw_.append(line.data(), line.size());
  raw_ += "\r\n";
  return Step::kLine;
}

void HeaderBlockReader::Reset() {
  raw_.clear();
  location_.clear();
  status_ = 0;
  atStart_ = true;
  ended_ = false;
}

std::string RawHeaderBlock(std::string_view received) {
  HeaderBlockReader reader;
  std::size_t begin = 0;
  while (begin < received.size()) {
    const std::size_t lf = received.find('\n', begin);
    if (lf == std::string_view::npos) break;  // a line is only taken once its LF has come
    if (reader.Take(received.substr(begin, lf + 1 - begin)) == HeaderBlockReader::Step::kEnd) {
      return reader.raw();
    }
    begin = lf + 1;
  }
  return std::string();
}

}  // namespace quorvel::platform
