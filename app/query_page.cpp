// The query's part that needs no window: the region code, the form body, and the reading of
// the result page into the one message box a query ends in.
#include "app/query.h"

#include "regex/regex_object.h"
#include "text/convert.h"
#include "text/url_coding.h"

namespace quorvel {
namespace {

bool EndsWith(const Text& t, const Text& suffix) {
  return TextLength(t) >= TextLength(suffix) && TextRight(t, TextLength(suffix)) == suffix;
}

}  // namespace

Text DeriveRegionCode(const Text& itemText) {
  Text code = TextRight(itemText, 6);
  if (FindText(itemText, Gbk("教育网")) != -1) code = Gbk("教育一");
  const Text tenth = Gbk("电信十");
  const int at = FindText(itemText, tenth);
  if (at != -1 && TextLength(itemText) > at - 1 + TextLength(tenth)) {
    code = TextRight(itemText, 8);
  }
  return code;
}

Text QueryFormBody(const Text& itemText, const Text& playerId) {
  const Text region = UrlEncode(DeriveRegionCode(itemText), false, true);
  const Text player = UrlEncode(TrimText(playerId), false, true);
  return ConcatText(Text("daqu="), region, Text("&nickname="), player);
}

const Text& ResultPagePattern() {
  static const Text pattern =
      Gbk("\t\t\t\t<td>(.*?)</td>\r\n\t\t\t</tr>\r\n\t\t\t<tr>\r\n"
          "\t\t\t\t<td>段位</td>\r\n\t\t\t\t<td>(.*?)</td>\r\n\t\t\t</tr>\r\n\t\t\t<tr>\r\n"
          "\t\t\t\t<td>隐藏分</td>\r\n\t\t\t\t<td>(\\w+)</td>\r\n\t\t\t</tr>\r\n\t\t\t<tr>\r\n"
          "\t\t\t\t<td>排位胜场</td>\r\n\t\t\t\t<td>(\\w+)</td>\r\n\t\t\t</tr>\r\n\t\t\t<tr>\r\n"
          "\t\t\t\t<td>排位胜率</td>\r\n\t\t\t\t<td>(.*?)td>\r\n\t\t\t</tr>\r\n\t\t\t<tr>\r\n"
          "\t\t\t\t<td>最近登录</td>\r\n\t\t\t\t<td>(.*?)</td>");
  return pattern;
}

QueryAnswer ReadQueryResult(const Bytes& body) {
  const Text title = Gbk("提示");
  // An empty body is a request that failed: say so instead of showing six empty values.
  if (body.empty()) return {Gbk("查询失败：无法连接查询服务器"), title};

  // The whole page is percent-decoded; the win-rate cell "52.3%</td>" so reads "52.3?td>".
  const Text page = UrlDecode(BytesToText(body), true);

  RegexObject regex;
  regex.Create(ResultPagePattern(), page);
  Text winRate = ReplaceText(regex.SubmatchText(1, 5), Text("?"), Text("%"));
  // A cell without a percent sign ("<td>0</td>") leaves the "</" of its end tag in the group.
  if (EndsWith(winRate, Text("</"))) winRate = TextLeft(winRate, TextLength(winRate) - 2);

  if (FindText(page, Gbk("无段位")) != -1) return {Gbk("你查的号没段位别查了- -"), title};
  if (FindText(page, Gbk("游戏ID不存在")) != -1) return {Gbk("游戏ID不存在!"), title};
  // A page of another shape holds no result table: say so instead of showing empty values.
  if (regex.MatchCount() < 1) return {Gbk("查询失败：无法识别查询结果"), title};

  Text message = ConcatText(
      Gbk("游戏ID： "), regex.SubmatchText(1, 1), Gbk("\r\n段位： "), regex.SubmatchText(1, 2),
      Gbk("\r\n隐藏分： "), regex.SubmatchText(1, 3), Gbk("\r\n胜场： "), regex.SubmatchText(1, 4),
      Gbk("\r\n胜率： "), winRate, Gbk("\r\n最近登录 ： "), regex.SubmatchText(1, 6));
  return {message, title};
}

}  // namespace quorvel
