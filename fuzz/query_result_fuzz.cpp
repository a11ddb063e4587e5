// The reading of a result page (any response body) into the query's message box.
//
// Checked for every input: the title is "提示"; the message is one of the fixed answers,
// chosen by the markers of the decoded page in their order, or the six labelled values; a
// value never spans a line (the pattern's groups do not cross a line feed), the hidden
// score and the wins are word characters, and the win rate holds no "?"; nothing holds a
// zero byte.
//
// The same bytes, up to a zero byte, also serve as a region item and a typed player ID: the
// form body is "daqu=" and "&nickname=" followed by nothing but percent-encoded bytes, which
// decode to the UTF-8 of the region code and of the trimmed ID; the region code is the
// education region's code or a tail of the item.
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

bool AllPercentEncoded(std::string_view s) {
  if (s.size() % 3 != 0) return false;
  for (std::size_t i = 0; i < s.size(); i += 3) {
    if (s[i] != '%') return false;
  }
  return true;
}

void CheckFormBody(const Text& typed) {
  const Text code = DeriveRegionCode(typed);
  FUZZ_CHECK(fuzz::WellFormed(code));
  const std::string_view t = typed.view();
  FUZZ_CHECK(code == Gbk("教育一") ||
             (code.size() <= t.size() && t.substr(t.size() - code.size()) == code.view()));
  const Text form = QueryFormBody(typed, typed);
  const std::string_view f = form.view();
  const std::string_view daqu = "daqu=";
  const std::string_view nickname = "&nickname=";
  FUZZ_CHECK(f.substr(0, daqu.size()) == daqu);
  const std::size_t at = f.find(nickname);
  FUZZ_CHECK(at != std::string_view::npos);
  const std::string_view region = f.substr(daqu.size(), at - daqu.size());
  const std::string_view player = f.substr(at + nickname.size());
  FUZZ_CHECK(AllPercentEncoded(region) && AllPercentEncoded(player));
  FUZZ_CHECK(UrlDecode(Text(region)) == AnsiToUtf8(code));
  FUZZ_CHECK(UrlDecode(Text(player)) == AnsiToUtf8(TrimText(typed)));
}

}  // namespace
}  // namespace quorvel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvel;
  const Bytes body(data, size);
  CheckFormBody(BytesToText(body));
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
