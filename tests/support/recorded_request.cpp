#include "tests/support/recorded_request.h"

#include <charconv>

namespace quorvel::test {

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

namespace {

std::string Word(const std::string& line, int index) {
  std::size_t begin = 0;
  for (int i = 0; i < index; ++i) {
    begin = line.find(' ', begin);
    if (begin == std::string::npos) return "";
    ++begin;
  }
  const std::size_t end = line.find(' ', begin);
  return line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace

std::string RecordedRequest::Method() const { return Word(requestLine, 0); }
std::string RecordedRequest::Target() const { return Word(requestLine, 1); }

std::vector<std::string> RecordedRequest::Values(std::string_view name) const {
  std::vector<std::string> out;
  for (const std::string& line : headerLines) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    if (IEquals(Trim(std::string_view(line).substr(0, colon)), name)) {
      out.emplace_back(Trim(std::string_view(line).substr(colon + 1)));
    }
  }
  return out;
}

std::string RecordedRequest::Value(std::string_view name) const {
  auto v = Values(name);
  return v.empty() ? std::string() : v.front();
}

RecordedRequest ParseRequestHead(std::string_view head) {
  RecordedRequest r;
  bool first = true;
  std::size_t begin = 0;
  while (begin < head.size()) {
    std::size_t end = head.find('\n', begin);
    if (end == std::string_view::npos) end = head.size();
    std::string_view line = head.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    begin = end + 1;
    if (first) {
      r.requestLine = std::string(line);
      first = false;
    } else if (line.empty()) {
      break;
    } else {
      r.headerLines.emplace_back(line);
    }
  }
  return r;
}

std::size_t ContentLengthOf(const RecordedRequest& head) {
  const std::string v = head.Value("Content-Length");
  std::size_t n = 0;
  auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (ec != std::errc() || end != v.data() + v.size()) return 0;
  return n;
}

}  // namespace quorvel::test
