// The reading of a received response head: the request layer's header block (the raw
// headers InetQueryRawHeaders hands out) and, on top of it, the web layer's reading of the
// cookies it sets, merged into a kept cookie text as WebRequest does.
//
// Checked for every input:
// - the block is empty or a whole block of the received lines: its lines are received lines
//   in their order from a block start up to the next empty line, each ended by CR LF, then
//   the empty line; no line of it is lost or split, wherever "HTTP/" appears in it;
// - every block before it is an interim (1xx) one, and it is not;
// - the reader fed line by line gives the same block, ignores lines after its end, and
//   gives it again after Reset; its location is the trimmed value of the block's last
//   Location line;
// - the cookies are one entry for each line that names Set-Cookie; normalising the
//   spelling of "Set-Cookie" changes letter case only; merging them keeps a well-formed text.
//
// Input: the received bytes (status line, header lines, empty line, maybe body).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/inet/header_block.h"
#include "web/cookies.h"
#include "web/web_request.h"

namespace quorvel {
namespace {

using platform::HeaderBlockReader;

// The complete lines of the received bytes (each up to its LF), with their line ends.
std::vector<std::string_view> ReceivedLines(std::string_view received) {
  std::vector<std::string_view> lines;
  std::size_t begin = 0;
  for (std::size_t lf; (lf = received.find('\n', begin)) != std::string_view::npos;
       begin = lf + 1) {
    lines.push_back(received.substr(begin, lf + 1 - begin));
  }
  return lines;
}

std::string_view Content(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// The block's lines without their CR LF; the final empty line is not among them.
std::vector<std::string_view> BlockLines(std::string_view raw) {
  std::vector<std::string_view> lines;
  FUZZ_CHECK(raw.size() >= 2 && raw.substr(raw.size() - 2) == "\r\n");
  for (std::size_t begin = 0;;) {
    const std::size_t end = raw.find("\r\n", begin);
    FUZZ_CHECK(end != std::string_view::npos);
    if (end == begin) {
      FUZZ_CHECK(end + 2 == raw.size());  // the empty line ends the block
      return lines;
    }
    lines.push_back(raw.substr(begin, end - begin));
    begin = end + 2;
  }
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != prefix[i]) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

void CheckBlock(std::string_view received, const std::string& raw) {
  const std::vector<std::string_view> lines = ReceivedLines(received);
  HeaderBlockReader reader;
  std::size_t blockStart = 0;
  bool ended = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const HeaderBlockReader::Step step = reader.Take(lines[i]);
    if (ended) {
      FUZZ_CHECK(step == HeaderBlockReader::Step::kIgnored);
      continue;
    }
    if (step == HeaderBlockReader::Step::kInterim) {
      // An interim block ends in an empty line; what it held is dropped.
      FUZZ_CHECK(Content(lines[i]).empty() && reader.raw().empty() && !reader.ended());
      blockStart = i + 1;
    } else if (step == HeaderBlockReader::Step::kEnd) {
      FUZZ_CHECK(Content(lines[i]).empty() && reader.ended());
      ended = true;
      // The block holds the received lines from its start, unchanged but for their ends.
      const std::vector<std::string_view> block = BlockLines(reader.raw());
      FUZZ_CHECK(block.size() == i - blockStart);
      for (std::size_t k = 0; k < block.size(); ++k) {
        FUZZ_CHECK(block[k] == Content(lines[blockStart + k]));
      }
      const int status = reader.status();
      FUZZ_CHECK(status >= 0 && status <= 999 && !(status >= 100 && status < 200));
      std::string_view location;
      for (std::size_t k = 1; k < block.size(); ++k) {
        if (StartsWithNoCase(block[k], "location:")) location = TrimBlanks(block[k].substr(9));
      }
      FUZZ_CHECK(reader.location() == location);
    } else {
      FUZZ_CHECK(step == HeaderBlockReader::Step::kLine && !Content(lines[i]).empty());
    }
  }
  FUZZ_CHECK(raw == (ended ? reader.raw() : std::string()));
  const std::string first = reader.raw();
  reader.Reset();
  FUZZ_CHECK(reader.raw().empty() && !reader.ended() && reader.status() == 0);
  for (const std::string_view line : lines) {
    if (reader.Take(line) == HeaderBlockReader::Step::kEnd) break;
  }
  FUZZ_CHECK(reader.raw() == first || !ended);
}

void CheckCookies(const std::string& raw) {
  // The web layer reads the block as Text (up to a zero byte) and spells every Set-Cookie
  // alike before it looks for them.
  const Text headers{std::string_view(raw)};
  const Text normalised = ReplaceText(headers, Text("Set-Cookie"), Text("Set-Cookie"), std::nullopt,
                                      std::nullopt, true);
  FUZZ_CHECK(normalised.size() == headers.size() && ToLower(normalised) == ToLower(headers));
  const Text cookies = CollectCookies(normalised);
  FUZZ_CHECK(fuzz::WellFormed(cookies));
  int named = 0;
  bool ascii = true;
  const TextArray lines = SplitText(normalised, Text("\r\n"));
  for (const Text& line : lines.items()) {
    if (FindText(line, Text("Set-Cookie")) != -1) ++named;
  }
  for (const char c : headers.view()) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    // One entry a line, none holding a ";": the entries are told apart by the separators.
    std::size_t separators = 0;
    for (const char c : cookies.view()) separators += c == ';';
    FUZZ_CHECK(separators == static_cast<std::size_t>(named > 0 ? named - 1 : 0));
    FUZZ_CHECK(cookies.view().find("\r\n") == std::string_view::npos);
  }
  if (named == 0) FUZZ_CHECK(cookies.empty());
  Text kept("sid=1; lang=cn");
  Text received = cookies;
  const Text merged = MergeCookies(kept, received);
  FUZZ_CHECK(fuzz::WellFormed(merged) && merged == kept);
}

}  // namespace
}  // namespace quorvel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvel;
  const std::string_view received(reinterpret_cast<const char*>(data), size);
  const std::string raw = platform::RawHeaderBlock(received);
  quorvel::CheckBlock(received, raw);
  quorvel::CheckCookies(raw);
  return 0;
}
