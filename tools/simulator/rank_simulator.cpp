#include "tools/simulator/rank_simulator.h"

#include <httplib.h>

#include <sys/socket.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace quorvel::tools {
namespace {

constexpr std::string_view kPagePath = "/rank/rank.php";
// The largest form body the page takes.
constexpr std::size_t kMaxBody = 16u << 20;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

void AppendEscaped(std::string& out, std::string_view s) {
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
}

// One row of the result table: four lines, each ended by CR LF.
void AppendRow(std::string& out, std::string_view cell, std::string_view label,
               std::string_view value) {
  out += "\t\t\t<tr>\r\n\t\t\t\t<";
  out += cell;
  out += '>';
  AppendEscaped(out, label);
  out += "</";
  out += cell;
  out += ">\r\n\t\t\t\t<";
  out += cell;
  out += '>';
  AppendEscaped(out, value);
  out += "</";
  out += cell;
  out += ">\r\n\t\t\t</tr>\r\n";
}

void AppendPageHead(std::string& out) {
  out +=
      "<!DOCTYPE html>\r\n"
      "<html lang=\"zh-CN\">\r\n"
      "<head>\r\n"
      "<meta charset=\"utf-8\">\r\n"
      "<title>rank查询</title>\r\n"
      "</head>\r\n"
      "<body>\r\n"
      "\t<div class=\"result\">\r\n";
}

void AppendPageTail(std::string& out) {
  out +=
      "\t</div>\r\n"
      "</body>\r\n"
      "</html>\r\n";
}

}  // namespace

std::vector<SimPlayer> ParsePlayers(std::string_view text, std::vector<std::string>* problems) {
  std::vector<SimPlayer> players;
  std::size_t lineNo = 0;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;

    std::vector<std::string_view> fields;
    for (;;) {
      std::size_t tab = line.find('\t');
      fields.push_back(line.substr(0, tab));
      if (tab == std::string_view::npos) break;
      line.remove_prefix(tab + 1);
    }
    if (fields.size() != 7) {
      if (problems) {
        problems->push_back("line " + std::to_string(lineNo) + ": expected 7 fields, found " +
                            std::to_string(fields.size()));
      }
      continue;
    }
    players.push_back(SimPlayer{std::string(fields[0]), std::string(fields[1]),
                                std::string(fields[2]), std::string(fields[3]),
                                std::string(fields[4]), std::string(fields[5]),
                                std::string(fields[6])});
  }
  return players;
}

bool LoadPlayers(const std::string& path, std::vector<SimPlayer>* players, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  std::vector<std::string> problems;
  *players = ParsePlayers(content.str(), &problems);
  if (error) {
    error->clear();
    for (const std::string& p : problems) *error += path + ": " + p + "\n";
  }
  return true;
}

std::string DecodeFormComponent(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      out += ' ';
    } else if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 &&
               HexValue(s[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::map<std::string, std::string> ParseFormBody(std::string_view body) {
  std::map<std::string, std::string> fields;
  while (!body.empty()) {
    std::size_t amp = body.find('&');
    std::string_view field = body.substr(0, amp);
    body.remove_prefix(amp == std::string_view::npos ? body.size() : amp + 1);
    if (field.empty()) continue;
    std::size_t eq = field.find('=');
    std::string name = DecodeFormComponent(field.substr(0, eq));
    std::string value =
        eq == std::string_view::npos ? std::string() : DecodeFormComponent(field.substr(eq + 1));
    fields.emplace(std::move(name), std::move(value));  // keeps the first occurrence
  }
  return fields;
}

std::string RenderResultPage(const SimPlayer& p) {
  std::string out;
  AppendPageHead(out);
  out += "\t\t<table class=\"rank\">\r\n\t\t\t<caption>大区：";
  AppendEscaped(out, p.region);
  out += "</caption>\r\n";
  AppendRow(out, "th", "项目", "数值");
  AppendRow(out, "td", "游戏ID", p.nickname);
  AppendRow(out, "td", "段位", p.tier);
  AppendRow(out, "td", "隐藏分", p.score);
  AppendRow(out, "td", "排位胜场", p.wins);
  AppendRow(out, "td", "排位胜率", p.winRate);
  AppendRow(out, "td", "最近登录", p.lastLogin);
  out += "\t\t</table>\r\n";
  AppendPageTail(out);
  return out;
}

std::string RenderUnknownPage() {
  std::string out;
  AppendPageHead(out);
  out += "\t\t<p class=\"notice\">游戏ID不存在</p>\r\n";
  AppendPageTail(out);
  return out;
}

std::string RenderFormPage() {
  std::string out;
  AppendPageHead(out);
  out +=
      "\t\t<form method=\"post\" action=\"/rank/rank.php\">\r\n"
      "\t\t\t<label>大区 <input name=\"daqu\" value=\"电信一\"></label>\r\n"
      "\t\t\t<label>游戏ID <input name=\"nickname\"></label>\r\n"
      "\t\t\t<button type=\"submit\">查询</button>\r\n"
      "\t\t</form>\r\n";
  AppendPageTail(out);
  return out;
}

std::string RecordedRequest::Header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (EqualsIgnoreCase(n, name)) return v;
  }
  return std::string();
}

std::size_t RecordedRequest::HeaderCount(std::string_view name) const {
  std::size_t count = 0;
  for (const auto& h : headers) count += EqualsIgnoreCase(h.first, name) ? 1 : 0;
  return count;
}

struct RankSimulator::Impl {
  std::map<std::pair<std::string, std::string>, SimPlayer> players;
  httplib::Server server;
  std::thread thread;
  std::atomic<bool> serving{false};
  int port = -1;

  mutable std::mutex mutex;
  std::vector<RecordedRequest> requests;

  void Record(const httplib::Request& req, std::string body) {
    RecordedRequest r{req.method, req.target, req.version, {}, std::move(body)};
    for (const auto& h : req.headers) r.headers.emplace_back(h.first, h.second);
    std::lock_guard<std::mutex> lock(mutex);
    requests.push_back(std::move(r));
  }
};

RankSimulator::RankSimulator(std::vector<SimPlayer> players) : impl_(std::make_unique<Impl>()) {
  for (SimPlayer& p : players) {
    auto key = std::make_pair(p.region, p.nickname);
    impl_->players.emplace(std::move(key), std::move(p));  // the first of a duplicate wins
  }
  Impl* impl = impl_.get();
  // The body is read through a content reader: the plain handler would refuse form bodies
  // beyond 8 KiB, and a player ID of any length is a fair question to the page.
  impl->server.Post(std::string(kPagePath),
                    [this, impl](const httplib::Request& req, httplib::Response& res,
                                 const httplib::ContentReader& reader) {
                      std::string body;
                      bool tooLarge = false;
                      reader([&](const char* data, std::size_t n) {
                        if (body.size() + n > kMaxBody) {
                          tooLarge = true;
                          return false;
                        }
                        body.append(data, n);
                        return true;
                      });
                      impl->Record(req, body);
                      if (tooLarge) {
                        res.status = 413;
                        return;
                      }
                      res.set_content(Answer(body), "text/html; charset=utf-8");
                    });
  impl->server.Get(std::string(kPagePath),
                   [impl](const httplib::Request& req, httplib::Response& res) {
                     impl->Record(req, req.body);
                     res.set_content(RenderFormPage(), "text/html; charset=utf-8");
                   });
  // Address reuse only, without the library's default port sharing: a port another server
  // listens on must be refused, not shared with it.
  impl->server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  impl->server.set_error_handler([impl](const httplib::Request& req, httplib::Response& res) {
    if (res.status == 404) {
      impl->Record(req, req.body);
      res.set_content("not found\r\n", "text/plain; charset=utf-8");
    }
  });
}

RankSimulator::~RankSimulator() { Stop(); }

int RankSimulator::Start(int port) {
  if (impl_->thread.joinable() || port < 0 || port > 65535) return -1;
  int bound = -1;
  if (port == 0) {
    bound = impl_->server.bind_to_any_port("127.0.0.1");
  } else if (impl_->server.bind_to_port("127.0.0.1", port)) {
    bound = port;
  }
  if (bound <= 0) return -1;
  impl_->port = bound;
  impl_->serving = true;
  impl_->thread = std::thread([impl = impl_.get()] {
    impl->server.listen_after_bind();
    impl->serving = false;
  });
  // The socket already listens; wait until the accept loop runs so that Stop() reaches it.
  while (impl_->serving && !impl_->server.is_running()) std::this_thread::yield();
  return bound;
}

void RankSimulator::Stop() {
  if (!impl_->thread.joinable()) return;
  impl_->server.stop();
  impl_->thread.join();
}

int RankSimulator::Port() const { return impl_->port; }

std::string RankSimulator::Url() const {
  return "http://127.0.0.1:" + std::to_string(impl_->port) + std::string(kPagePath);
}

std::string RankSimulator::Answer(std::string_view formBody) const {
  std::map<std::string, std::string> form = ParseFormBody(formBody);
  auto key = std::make_pair(form["daqu"], form["nickname"]);
  auto it = impl_->players.find(key);
  if (it == impl_->players.end()) return RenderUnknownPage();
  return RenderResultPage(it->second);
}

std::vector<RecordedRequest> RankSimulator::Requests() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->requests;
}

void RankSimulator::ClearRequests() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->requests.clear();
}

}  // namespace quorvel::tools
