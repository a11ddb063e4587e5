// The query end to end: the real query window on the offscreen platform, real loopback HTTP
// servers (the rank-page simulator, and small servers that answer what a case needs), and the
// real modal message box, read and closed as a user would.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/query.h"
#include "app/query_window.h"
#include "platform/automation/automation.h"
#include "platform/ui/ui.h"
#include "text/convert.h"
#include "tools/simulator/rank_simulator.h"

namespace quorvel {
namespace {

using tools::RankSimulator;
using tools::RecordedRequest;
using tools::SimPlayer;

// What the user saw of one message box.
struct SeenBox {
  std::string title;  // UTF-8
  std::string text;   // UTF-8, line breaks as LF
  int buttons = 0;
  bool noIcon = false;
  bool windowBusy = false;  // the query window's busy state while the box was open
};

// Watches for the tool's message boxes while it lives: reads each one's title and text, runs
// an optional action while it is open, then presses its OK button.
class BoxCatcher : public QObject {
 public:
  explicit BoxCatcher(const QueryWindow* window) : window_(window) {
    qApp->installEventFilter(this);
  }
  ~BoxCatcher() override { qApp->removeEventFilter(this); }

  std::vector<SeenBox> boxes;
  std::function<void()> whileOpen;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      if (auto* box = qobject_cast<QMessageBox*>(watched)) {
        QPointer<QMessageBox> p(box);
        // Answer from the box's own event loop, once it is up.
        QMetaObject::invokeMethod(
            this, [this, p] { Answer(p); }, Qt::QueuedConnection);
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void Answer(QPointer<QMessageBox> box) {
    if (!box) return;
    SeenBox seen;
    seen.title = box->windowTitle().toStdString();
    seen.text = box->text().toStdString();
    seen.buttons = static_cast<int>(box->buttons().size());
    seen.noIcon = box->icon() == QMessageBox::NoIcon;
    seen.windowBusy = window_ && window_->IsBusy();
    boxes.push_back(seen);
    if (whileOpen && boxes.size() == 1) whileOpen();  // once: it may open boxes itself
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
  }
  const QueryWindow* window_;
};

std::string Lf(std::string s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    out += s[i];
  }
  return out;
}

// A loopback server that answers every POST of the rank page with a fixed body.
class PageServer {
 public:
  explicit PageServer(std::string body) : body_(std::move(body)) {
    server_.Post("/rank/rank.php", [this](const httplib::Request&, httplib::Response& res) {
      ++requests_;
      res.set_content(body_, "text/html; charset=utf-8");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] {
      server_.listen_after_bind();
      ended_ = true;
    });
    // Wait for the accept loop, so that stop() reaches it.
    while (!ended_ && !server_.is_running()) std::this_thread::yield();
  }
  ~PageServer() {
    server_.stop();
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/rank/rank.php"; }
  int Requests() const { return requests_; }

 private:
  std::string body_;
  httplib::Server server_;
  std::thread thread_;
  int port_ = -1;
  std::atomic<int> requests_{0};
  std::atomic<bool> ended_{false};
};

// A loopback port with nothing listening: bound (so no one else takes it), never listening.
class ClosedPort {
 public:
  ClosedPort() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
  }
  ~ClosedPort() { close(fd_); }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/rank/rank.php"; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A result page in the page's own shape, with the cells given (UTF-8); extra goes after the
// table.
std::string ResultPage(const std::string& id, const std::string& tier, const std::string& score,
                       const std::string& wins, const std::string& rateCell,
                       const std::string& login, const std::string& extra = "") {
  auto row = [](const std::string& label, const std::string& value) {
    return "\t\t\t<tr>\r\n\t\t\t\t<td>" + label + "</td>\r\n\t\t\t\t<td>" + value +
           "</td>\r\n\t\t\t</tr>\r\n";
  };
  return "<!DOCTYPE html>\r\n<html>\r\n<body>\r\n\t\t<table>\r\n" + row("游戏ID", id) +
         row("段位", tier) + row("隐藏分", score) + row("排位胜场", wins) +
         row("排位胜率", rateCell) + row("最近登录", login) + "\t\t</table>\r\n" + extra +
         "</body>\r\n</html>\r\n";
}

std::string ResultText(const std::string& id, const std::string& tier, const std::string& score,
                       const std::string& wins, const std::string& rate, const std::string& login) {
  return "游戏ID： " + id + "\n段位： " + tier + "\n隐藏分： " + score + "\n胜场： " + wins +
         "\n胜率： " + rate + "\n最近登录 ： " + login;
}

const char* const kPlayers =
    "电信一\tabc\t黄金 I\t1234\t56\t52.3%\t2014-05-01\n"
    "电信一\t星落长河\t钻石 II\t2310\t412\t58.1%\t2014-06-12\n"
    "电信十\tNightOwl\t大师\t2580\t640\t61.4%\t2014-06-30\n"
    "电信十一\t海边的猫\t黄金 III\t1402\t88\t49.6%\t2014-05-15\n"
    "教育一\tStudyBuddy\t青铜 V\t960\t12\t40.0%\t2014-03-02\n"
    "电信十九\tMaple Leaf\t白银 I\t1260\t74\t50.7%\t2014-06-18\n"
    "网通三\t路人甲\t无段位\t0\t0\t0%\t2014-06-01\n";

const char* const kTip = "提示";

class QueryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { app_ = new platform::UiApplication(); }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(app_->ok()) << "no display; the tests run with QT_QPA_PLATFORM=offscreen";
    window_ = std::make_unique<QueryWindow>();
    window_->Show();
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == "QueryWindow" && w->isVisible()) top_ = w;
    }
    ASSERT_NE(top_, nullptr);
    idBox_ = top_->findChild<QLineEdit*>(QString::fromUtf8("编辑框_游戏ID"));
    regions_ = top_->findChild<QComboBox*>(QString::fromUtf8("组合框_"));
    ASSERT_NE(idBox_, nullptr);
    ASSERT_NE(regions_, nullptr);
    simulator_ = std::make_unique<RankSimulator>(tools::ParsePlayers(kPlayers));
    ASSERT_GT(simulator_->Start(0), 0);
  }

  void TearDown() override {
    if (simulator_) simulator_->Stop();
    window_.reset();
  }

  // Types the player ID into the real box and picks the region in the real list.
  void Enter(int region, const std::string& playerId) {
    regions_->setCurrentIndex(region);
    idBox_->setText(QString::fromUtf8(playerId.c_str()));
  }

  // Runs one query against url and returns the message boxes it showed.
  std::vector<SeenBox> Query(const std::string& url, std::function<void()> whileOpen = {}) {
    BoxCatcher catcher(window_.get());
    catcher.whileOpen = std::move(whileOpen);
    OnQueryClick(*window_, Text(url));
    EXPECT_FALSE(window_->IsBusy());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    // The query's regular-expression object is gone, and with it its automation use.
    EXPECT_FALSE(platform::IsInitialized());
    return catcher.boxes;
  }

  // One query that must end in exactly one box; returns it.
  SeenBox QueryOne(const std::string& url) {
    std::vector<SeenBox> boxes = Query(url);
    EXPECT_EQ(boxes.size(), 1u);
    if (boxes.empty()) return SeenBox{};
    EXPECT_EQ(boxes[0].buttons, 1);
    EXPECT_TRUE(boxes[0].noIcon);
    EXPECT_FALSE(boxes[0].windowBusy);
    return boxes[0];
  }

  static platform::UiApplication* app_;
  std::unique_ptr<QueryWindow> window_;
  QWidget* top_ = nullptr;
  QLineEdit* idBox_ = nullptr;
  QComboBox* regions_ = nullptr;
  std::unique_ptr<RankSimulator> simulator_;
};

platform::UiApplication* QueryTest::app_ = nullptr;

// ---- The form post, as the page's server receives it --------------------------------------

TEST_F(QueryTest, FormBodyAndRequestAsTheServerSeesThem) {
  struct Case {
    int region;
    const char* id;
    const char* body;
  };
  std::vector<Case> cases = {
      {0, "abc", "daqu=%E7%94%B5%E4%BF%A1%E4%B8%80&nickname=%61%62%63"},
      {19, "abc", "daqu=%E6%95%99%E8%82%B2%E4%B8%80&nickname=%61%62%63"},
      {0, "  abc  ", "daqu=%E7%94%B5%E4%BF%A1%E4%B8%80&nickname=%61%62%63"},
      {0, "星落长河",
       "daqu=%E7%94%B5%E4%BF%A1%E4%B8%80&nickname=%E6%98%9F%E8%90%BD%E9%95%BF%E6%B2%B3"},
      {13, "a b", "daqu=%E7%94%B5%E4%BF%A1%E5%8D%81&nickname=%61%20%62"},
      {14, "x", "daqu=%E7%94%B5%E4%BF%A1%E5%8D%81%E4%B8%80&nickname=%78"},
      {1, "a&b=c%", "daqu=%E7%BD%91%E9%80%9A%E4%B8%80&nickname=%61%26%62%3D%63%25"},
  };
  // A long ID goes out whole: the box has no length limit.
  const std::string longId(20000, 'x');
  std::string longBody = "daqu=%E7%94%B5%E4%BF%A1%E4%B8%80&nickname=";
  for (std::size_t i = 0; i < longId.size(); ++i) longBody += "%78";
  cases.push_back({0, longId.c_str(), longBody.c_str()});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.id).substr(0, 20));
    simulator_->ClearRequests();
    Enter(c.region, c.id);
    QueryOne(simulator_->Url());
    std::vector<RecordedRequest> requests = simulator_->Requests();
    ASSERT_EQ(requests.size(), 1u);
    const RecordedRequest& r = requests[0];
    EXPECT_EQ(r.body, c.body);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/rank/rank.php");
    EXPECT_EQ(r.version, "HTTP/1.1");
    EXPECT_EQ(r.Header("Accept"), "*/*");
    EXPECT_EQ(r.Header("Referer"), simulator_->Url());
    EXPECT_EQ(r.Header("Accept-Language"), "zh-cn");
    EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
    for (const char* name :
         {"Accept", "Referer", "Accept-Language", "Content-Type", "User-Agent"}) {
      EXPECT_EQ(r.HeaderCount(name), 1u) << name;
    }
    EXPECT_EQ(r.HeaderCount("Cookie"), 0u);
  }
}

// ---- Answers of the simulator ---------------------------------------------------------------

TEST_F(QueryTest, PlayersShowTheirSixValues) {
  struct Case {
    int region;
    const char* id;
    const char* expected;
  };
  const Case cases[] = {
      {0, "abc",
       "游戏ID： abc\n段位： 黄金 I\n隐藏分： 1234\n胜场： 56\n胜率： 52.3%\n最近登录 ： "
       "2014-05-01"},
      {0, " 星落长河 ",
       "游戏ID： 星落长河\n段位： 钻石 II\n隐藏分： 2310\n胜场： 412\n胜率： 58.1%\n最近登录 ： "
       "2014-06-12"},
      {13, "NightOwl",
       "游戏ID： NightOwl\n段位： 大师\n隐藏分： 2580\n胜场： 640\n胜率： 61.4%\n最近登录 ： "
       "2014-06-30"},
      {14, "海边的猫",
       "游戏ID： 海边的猫\n段位： 黄金 III\n隐藏分： 1402\n胜场： 88\n胜率： 49.6%\n最近登录 ： "
       "2014-05-15"},
      {19, "StudyBuddy",
       "游戏ID： StudyBuddy\n段位： 青铜 V\n隐藏分： 960\n胜场： 12\n胜率： 40.0%\n最近登录 ： "
       "2014-03-02"},
      {25, "Maple Leaf",
       "游戏ID： Maple Leaf\n段位： 白银 I\n隐藏分： 1260\n胜场： 74\n胜率： 50.7%\n最近登录 ： "
       "2014-06-18"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    Enter(c.region, c.id);
    SeenBox box = QueryOne(simulator_->Url());
    EXPECT_EQ(box.title, kTip);
    EXPECT_EQ(box.text, c.expected);
  }
}

TEST_F(QueryTest, NoTierAndUnknownPlayers) {
  struct Case {
    int region;
    const char* id;
    const char* expected;
  };
  const Case cases[] = {
      {8, "路人甲", "你查的号没段位别查了- -"},
      {0, "nobody", "游戏ID不存在!"},
      {1, "abc", "游戏ID不存在!"},  // a player of another region
      {0, "ABC", "游戏ID不存在!"},  // the page tells letter case apart
      {0, "\t", "游戏ID不存在!"},   // a tab is no blank: it is sent
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    Enter(c.region, c.id);
    SeenBox box = QueryOne(simulator_->Url());
    EXPECT_EQ(box.title, kTip);
    EXPECT_EQ(box.text, c.expected);
  }
}

TEST_F(QueryTest, EmptyOrBlankIdAsksForOneAndSendsNothing) {
  for (const char* id : {"", " ", "     ", "\xE3\x80\x80", " \xE3\x80\x80 "}) {  // U+3000 blanks
    SCOPED_TRACE(testing::PrintToString(id));
    Enter(0, id);
    SeenBox box = QueryOne(simulator_->Url());
    EXPECT_EQ(box.title, "信息：");
    EXPECT_EQ(box.text, "请输入游戏ID！");
  }
  EXPECT_TRUE(simulator_->Requests().empty());
}

// The window's own button runs the query: with an empty ID it asks for one (a path that
// needs no page, so the built-in address is never contacted).
TEST_F(QueryTest, TheQueryButtonRunsTheQuery) {
  auto* button = top_->findChild<QPushButton*>(QString::fromUtf8("按钮_rank"));
  ASSERT_NE(button, nullptr);
  Enter(0, "");
  BoxCatcher catcher(window_.get());
  button->click();
  ASSERT_EQ(catcher.boxes.size(), 1u);
  EXPECT_EQ(catcher.boxes[0].title, "信息：");
  EXPECT_EQ(catcher.boxes[0].text, "请输入游戏ID！");
  EXPECT_FALSE(window_->IsBusy());
}

// ---- Pages of other servers -----------------------------------------------------------------

TEST_F(QueryTest, PagesOfOtherShapes) {
  const std::string normal = ResultPage("abc", "黄金 I", "1234", "56", "52.3%", "2014-05-01");
  struct Case {
    const char* name;
    std::string page;
    std::string expected;
  };
  const Case cases[] = {
      {"both markers and a table: the no-tier answer",
       ResultPage("abc", "无段位", "1234", "56", "52.3%", "2014-05-01", "<p>游戏ID不存在</p>\r\n"),
       "你查的号没段位别查了- -"},
      {"the unknown-ID marker beside a table", normal + "<p>游戏ID不存在</p>", "游戏ID不存在!"},
      {"other HTML", "<html><body><h1>维护中</h1></body></html>", "查询失败：无法识别查询结果"},
      {"LF line ends", Lf(normal), "查询失败：无法识别查询结果"},
      {"a hidden score 1,234", ResultPage("abc", "黄金 I", "1,234", "56", "52.3%", "2014-05-01"),
       "查询失败：无法识别查询结果"},
      {"win rate without a percent sign",
       ResultPage("abc", "黄金 I", "1234", "56", "0", "2014-05-01"),
       ResultText("abc", "黄金 I", "1234", "56", "0", "2014-05-01")},
      {"a percent sign running into the no-tier marker",
       ResultPage("abc", "黄金 I", "1234", "56", "52.3%", "2014-05-01", "<p>100%无段位</p>\r\n"),
       ResultText("abc", "黄金 I", "1234", "56", "52.3%", "2014-05-01")},
      {"percent escapes in cells are decoded",
       ResultPage("%41bc", "%E9%BB%84%E9%87%91 I", "1234", "56", "52.3%", "2014-05-01"),
       ResultText("Abc", "黄金 I", "1234", "56", "52.3%", "2014-05-01")},
      {"a zero byte ends the page", std::string("<p>x</p>\0", 9) + normal,
       "查询失败：无法识别查询结果"},
      {"only the first of two tables",
       ResultPage("abc", "黄金 I", "1234", "56", "52.3%", "2014-05-01") +
           ResultPage("xyz", "白银 I", "999", "1", "1.0%", "2014-01-01"),
       ResultText("abc", "黄金 I", "1234", "56", "52.3%", "2014-05-01")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PageServer server(c.page);
    Enter(0, "abc");
    SeenBox box = QueryOne(server.Url());
    EXPECT_EQ(server.Requests(), 1);
    EXPECT_EQ(box.title, kTip);
    EXPECT_EQ(box.text, c.expected);
  }
}

TEST_F(QueryTest, FailedRequestsSaySo) {
  Enter(0, "abc");
  {
    ClosedPort closed;
    SeenBox box = QueryOne(closed.Url());
    EXPECT_EQ(box.title, kTip);
    EXPECT_EQ(box.text, "查询失败：无法连接查询服务器");
  }
  {
    PageServer empty("");  // an answer without a body
    SeenBox box = QueryOne(empty.Url());
    EXPECT_EQ(empty.Requests(), 1);
    EXPECT_EQ(box.text, "查询失败：无法连接查询服务器");
  }
  {
    SeenBox box = QueryOne(simulator_->Url() + "/nowhere");  // 404 with a body
    EXPECT_EQ(box.text, "查询失败：无法识别查询结果");
  }
}

// ---- One query at a time ------------------------------------------------------------------

TEST_F(QueryTest, BusyWhileTheRequestRunsAndOneQueryAtATime) {
  PageServer server(ResultPage("abc", "黄金 I", "1234", "56", "52.3%", "2014-05-01"));
  // The window's state belongs to the user-interface thread, so it is read there: by a call
  // queued before the click, which runs at the first event processing of the query. The
  // query lets its busy look show before it blocks in the request, so that is the moment
  // between going busy and sending; the server's request count, read in the same call,
  // shows that the request had not reached the server yet.
  QObject snapshotOwner;  // a call still queued when the test ends is dropped with it
  struct Snapshot {
    bool taken = false;
    bool busy = false;
    bool waitCursor = false;
    int requestsSoFar = -1;
  } seen;
  QMetaObject::invokeMethod(
      &snapshotOwner,
      [&] {
        if (seen.taken) return;
        seen.taken = true;
        seen.busy = window_->IsBusy();
        const QCursor* c = QGuiApplication::overrideCursor();
        seen.waitCursor = c && c->shape() == Qt::WaitCursor;
        seen.requestsSoFar = server.Requests();
      },
      Qt::QueuedConnection);
  Enter(0, "abc");
  int nestedBoxes = -1;
  std::vector<SeenBox> boxes = Query(server.Url(), [&] {
    // A click that reaches the handler while its box is still open starts nothing.
    BoxCatcher nested(window_.get());
    OnQueryClick(*window_, Text(server.Url()));
    nestedBoxes = static_cast<int>(nested.boxes.size());
  });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(nestedBoxes, 0);
  EXPECT_EQ(server.Requests(), 1);
  ASSERT_TRUE(seen.taken);
  EXPECT_EQ(seen.requestsSoFar, 0);
  EXPECT_TRUE(seen.busy);
  EXPECT_TRUE(seen.waitCursor);
  EXPECT_FALSE(boxes[0].windowBusy);
}

// ---- The result-page pattern and the shipped data --------------------------------------------

TEST(ResultPagePattern, HasItsExactBytes) {
  const char* const kHex =
      "090909093c74643e282e2a3f293c2f74643e0d0a0909093c2f74723e0d0a0909093c74723e0d0a0909"
      "09093c74643eb6cecebb3c2f74643e0d0a090909093c74643e282e2a3f293c2f74643e0d0a0909093c"
      "2f74723e0d0a0909093c74723e0d0a090909093c74643ed2feb2d8b7d63c2f74643e0d0a090909093c"
      "74643e285c772b293c2f74643e0d0a0909093c2f74723e0d0a0909093c74723e0d0a090909093c7464"
      "3ec5c5cebbcaa4b3a13c2f74643e0d0a090909093c74643e285c772b293c2f74643e0d0a0909093c2f"
      "74723e0d0a0909093c74723e0d0a090909093c74643ec5c5cebbcaa4c2ca3c2f74643e0d0a09090909"
      "3c74643e282e2a3f2974643e0d0a0909093c2f74723e0d0a0909093c74723e0d0a090909093c74643e"
      "d7eebdfcb5c7c2bc3c2f74643e0d0a090909093c74643e282e2a3f293c2f74643e";
  std::string hex;
  for (unsigned char b : ResultPagePattern().view()) {
    static const char* const kDigits = "0123456789abcdef";
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  EXPECT_EQ(ResultPagePattern().size(), 320u);
  EXPECT_EQ(hex, kHex);
}

TEST(RankSimulatorData, ShippedPlayersLoadWithoutProblems) {
  std::vector<SimPlayer> players;
  std::string problems;
  ASSERT_TRUE(tools::LoadPlayers(QUORVEL_SIMULATOR_DATA, &players, &problems));
  EXPECT_EQ(problems, "");
  EXPECT_GE(players.size(), 6u);
  int noTier = 0;
  std::vector<std::string> regions;
  for (const SimPlayer& p : players) {
    noTier += p.tier == "无段位";
    if (std::find(regions.begin(), regions.end(), p.region) == regions.end()) {
      regions.push_back(p.region);
    }
  }
  EXPECT_EQ(noTier, 1);
  EXPECT_GE(regions.size(), 4u);
}

// The simulator takes any form body: malformed ones are answered, never crash it.
TEST(RankSimulatorForm, OddBodiesGetAnAnswer) {
  RankSimulator sim(tools::ParsePlayers(kPlayers));
  const std::string unknown = tools::RenderUnknownPage();
  EXPECT_NE(sim.Answer("daqu=%E7%94%B5%E4%BF%A1%E4%B8%80&nickname=abc"), unknown);
  EXPECT_NE(sim.Answer("nickname=abc&daqu=%e7%94%b5%e4%bf%a1%e4%b8%80&daqu=x"), unknown);
  EXPECT_NE(sim.Answer("daqu=%E7%94%B5%E4%BF%A1%E5%8D%81%E4%B9%9D&nickname=Maple+Leaf"), unknown);
  for (const char* body : {"", "&&&", "=", "daqu", "daqu=%", "daqu=%E7%9&nickname=%zz%",
                           "nickname=abc", "\xFF\xFE%00=%00"}) {
    EXPECT_EQ(sim.Answer(body), unknown) << body;
  }
  EXPECT_EQ(tools::DecodeFormComponent("%41%4a%zz%4+%"), "AJ%zz%4 %");
}

}  // namespace
}  // namespace quorvel
