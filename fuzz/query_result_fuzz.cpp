// The reading of a result page (any response body) into the query's message box.
//
// Checked for every input: the title is "提示"; the message is one of the fixed answers,
// chosen by the markers of the decoded page in their order, or the six labelled values; a
// value never spans a line (the pattern's groups do not cross a line feed), the hidden
// score and the wins are word characters, and the win rate holds no "?"; nothing holds a
// zero byte.
//
// Input: the response body, as it comes from the server.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/query.h"
#include "fuzz/fuzz_support.h"
#include "text/convert.h"
#include "text/url_coding.h"

namespace quorvel {
namespace {

std::vector<std::string_view> Lines(std::string_view s) {
  std::vector<std::string_view> lines;
  for (;;) {
    const std::size_t at = s.find("\r\n");
    lines.push_back(s.substr(0, at));
    if (at == std::string_view::npos) return lines;
    s.remove_prefix(at + 2);
  }
}

bool StartsWith(std::string_view s, const Text& prefix) {
  return s.substr(0, prefix.size()) == prefix.view();
}

bool WordChars(std::string_view s) {
  if (s.empty()) return false;
  for (const char c : s) {
    const bool word =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!word) return false;
  }
  return true;
}

}  // namespace
}  // namespace quorvel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvel;
  const Bytes body(data, size);
  const QueryAnswer answer = ReadQueryResult(body);
  FUZZ_CHECK(answer.title == Gbk("提示"));
  FUZZ_CHECK(fuzz::WellFormed(answer.message) && !answer.message.empty());
  if (body.empty()) {
    FUZZ_CHECK(answer.message == Gbk("查询失败：无法连接查询服务器"));
    return 0;
  }
  const Text page = UrlDecode(BytesToText(body), true);
  if (FindText(page, Gbk("无段位")) != -1) {
    FUZZ_CHECK(answer.message == Gbk("你查的号没段位别查了- -"));
    return 0;
  }
  if (FindText(page, Gbk("游戏ID不存在")) != -1) {
    FUZZ_CHECK(answer.message == Gbk("游戏ID不存在!"));
    return 0;
  }
  if (answer.message == Gbk("查询失败：无法识别查询结果")) return 0;

  const std::vector<std::string_view> lines = Lines(answer.message.view());
  FUZZ_CHECK(lines.size() == 6);
  const Text labels[] = {Gbk("游戏ID： "), Gbk("段位： "), Gbk("隐藏分： "),
                         Gbk("胜场： "),   Gbk("胜率： "), Gbk("最近登录 ： ")};
  for (std::size_t k = 0; k < 6; ++k) FUZZ_CHECK(StartsWith(lines[k], labels[k]));
  FUZZ_CHECK(WordChars(lines[2].substr(labels[2].size())));
  FUZZ_CHECK(WordChars(lines[3].substr(labels[3].size())));
  FUZZ_CHECK(lines[4].find('?') == std::string_view::npos);
  for (const std::string_view line : lines) FUZZ_CHECK(line.find('\n') == std::string_view::npos);
  return 0;
}
