// The query end to end on Windows: the real query window on Win32 controls, its click handler,
// WebRequest over WinInet, and a real loopback server that answers the form post in the rank
// page's shape; the real message box is read and closed as a user would.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/query.h"
#include "app/query_window.h"
#include "tests/platform/ui/win32/win32_probe.h"
#include "tests/support/net_util.h"
#include "tests/support/request_layer.h"
#include "tests/support/test_server.h"
#include "text/text.h"

namespace quorvel {
namespace {

using test::RecordedRequest;
using test::Response;
using test::W;

// A result page in the page's own shape, with the cells given (UTF-8).
std::string ResultPage(const std::string& id, const std::string& tier, const std::string& score,
                       const std::string& wins, const std::string& rate, const std::string& login) {
  auto row = [](const std::string& label, const std::string& value) {
    return "\t\t\t<tr>\r\n\t\t\t\t<td>" + label + "</td>\r\n\t\t\t\t<td>" + value +
           "</td>\r\n\t\t\t</tr>\r\n";
  };
  return "<!DOCTYPE html>\r\n<html>\r\n<body>\r\n\t\t<table>\r\n" + row("游戏ID", id) +
         row("段位", tier) + row("隐藏分", score) + row("排位胜场", wins) + row("排位胜率", rate) +
         row("最近登录", login) + "\t\t</table>\r\n</body>\r\n</html>\r\n";
}

class QueryOverWinInetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    server_.Route("POST", "/rank/rank.php", [this](const RecordedRequest&, Response& res) {
      res.set_content(page_, "text/html; charset=utf-8");
    });
    window_.Show();
    top_ = test::FindTopLevel(L"QueryWindow");
    ASSERT_NE(top_, nullptr);
    combo_ = test::FindChild(top_, W("组合框_"));
    edit_ = test::FindChild(top_, W("编辑框_游戏ID"));
    ASSERT_NE(combo_, nullptr);
    ASSERT_NE(edit_, nullptr);
    test::Pump();
  }

  // Picks the region and types the ID as the user does, runs the click, returns the box.
  test::SeenBox Query(int region, const char* id, const std::string& url) {
    SendMessageW(combo_, CB_SETCURSEL, region, 0);
    SetWindowTextW(edit_, L"");
    test::Type(edit_, W(id));
    return test::CatchMessageBox([&] { OnQueryClick(window_, Text(url)); }, nullptr, top_);
  }

  test::TestServer server_;
  std::string page_;
  QueryWindow window_;
  HWND top_ = nullptr;
  HWND combo_ = nullptr;
  HWND edit_ = nullptr;
};

TEST_F(QueryOverWinInetTest, TheFormPostArrivesAsTheQuerySendsIt) {
  page_ = ResultPage("abc", "黄金 I", "1234", "56", "52.3%", "2014-05-01");
  const struct {
    int region;
    const char* id;
    const char* body;
  } cases[] = {
      {0, "abc", "daqu=%E7%94%B5%E4%BF%A1%E4%B8%80&nickname=%61%62%63"},
      {0, "星落长河",
       "daqu=%E7%94%B5%E4%BF%A1%E4%B8%80&nickname=%E6%98%9F%E8%90%BD%E9%95%BF%E6%B2%B3"},
      {19, "a b", "daqu=%E6%95%99%E8%82%B2%E4%B8%80&nickname=%61%20%62"},
  };
  const std::string url = server_.Url("/rank/rank.php");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const std::size_t before = server_.RequestCount();
    ASSERT_TRUE(Query(c.region, c.id, url).seen);
    ASSERT_EQ(server_.RequestCount(), before + 1);
    const RecordedRequest r = server_.Last();
    EXPECT_EQ(r.requestLine, "POST /rank/rank.php HTTP/1.1");
    EXPECT_EQ(r.body, c.body);
    const std::vector<std::string> lines = {"Accept: */*", "Referer: " + url,
                                            "Accept-Language: zh-cn",
                                            "Content-Type: application/x-www-form-urlencoded"};
    EXPECT_EQ(test::CallerLines(r), lines);
    EXPECT_EQ(r.Value("User-Agent"), "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
    EXPECT_FALSE(r.Has("Cookie"));
  }
}

TEST_F(QueryOverWinInetTest, TheAnswersOfThePageShowInTheBox) {
  const struct {
    const char* name;
    std::string page;
    const char* title;
    const char* text;
  } cases[] = {
      {"six values", ResultPage("abc", "黄金 I", "1234", "56", "52.3%", "2014-05-01"), "提示",
       "游戏ID： abc\r\n段位： 黄金 I\r\n隐藏分： 1234\r\n胜场： 56\r\n胜率： 52.3%\r\n最近登录 ： "
       "2014-05-01"},
      {"no tier", ResultPage("路人甲", "无段位", "0", "0", "0%", "2014-06-01"), "提示",
       "你查的号没段位别查了- -"},
      {"unknown ID", "<html><body>游戏ID不存在</body></html>", "提示", "游戏ID不存在!"},
      {"an answer without a body", "", "提示", "查询失败：无法连接查询服务器"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    page_ = c.page;
    const test::SeenBox box = Query(0, "abc", server_.Url("/rank/rank.php"));
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.title, W(c.title));
    EXPECT_EQ(box.text, W(c.text));
    EXPECT_FALSE(window_.IsBusy());
  }
}

TEST_F(QueryOverWinInetTest, AnEmptyIdAsksForOneAndAStoppedServerFails) {
  const test::SeenBox prompt = Query(0, "", server_.Url("/rank/rank.php"));
  ASSERT_TRUE(prompt.seen);
  EXPECT_EQ(prompt.title, W("信息："));
  EXPECT_EQ(prompt.text, W("请输入游戏ID！"));
  EXPECT_EQ(server_.RequestCount(), 0u);

  const std::string closed =
      "http://127.0.0.1:" + std::to_string(test::FreeLoopbackPort()) + "/rank/rank.php";
  const test::SeenBox failed = Query(0, "abc", closed);
  ASSERT_TRUE(failed.seen);
  EXPECT_EQ(failed.title, W("提示"));
  EXPECT_EQ(failed.text, W("查询失败：无法连接查询服务器"));
}

}  // namespace
}  // namespace quorvel
