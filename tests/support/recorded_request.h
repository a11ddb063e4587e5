// One HTTP request as a test server received it, byte for byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel::test {

struct RecordedRequest {
  std::string requestLine;               // e.g. "POST /rank/rank.php HTTP/1.1"
  std::vector<std::string> headerLines;  // every header line in order, without its line end
  std::string body;                      // the body bytes (Content-Length of them)

  std::string Method() const;  // first word of the request line
  std::string Target() const;  // second word of the request line
  // Values (text behind the colon, blanks trimmed) of the lines named name, any letter case.
  std::vector<std::string> Values(std::string_view name) const;
  // The first such value, or "" when there is none.
  std::string Value(std::string_view name) const;
  bool Has(std::string_view name) const { return !Values(name).empty(); }
};

// Splits a request head (request line, header lines, each ended by CR LF or LF, up to the
// empty line) into a RecordedRequest without body.
RecordedRequest ParseRequestHead(std::string_view head);

// Content-Length of a parsed head, or 0 when there is none or it is unreadable.
std::size_t ContentLengthOf(const RecordedRequest& head);

// Header names compare without ASCII case; values are read without blanks and tabs around.
bool IEquals(std::string_view a, std::string_view b);
std::string_view Trim(std::string_view s);

}  // namespace quorvel::test
