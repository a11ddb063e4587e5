// The rank-page simulator: a real HTTP server on a loopback port that answers the rank-lookup
// form post ("daqu" and "nickname", percent-encoded UTF-8) with a UTF-8 HTML page in the shape
// the tool reads, from a small data set of fictional players. Used by the demo run and by the
// end-to-end tests. Plain std::string in and out; the HTTP library stays inside the .cpp.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel::tools {

// One player of the data set; every field is UTF-8 and goes into the page as it is
// (HTML-escaped). A tier of "无段位" is a player without a tier.
struct SimPlayer {
  std::string region;  // region code, the "daqu" value ("电信一")
  std::string nickname;
  std::string tier;
  std::string score;
  std::string wins;
  std::string winRate;  // as shown by the page, "52.3%"
  std::string lastLogin;
};

// Parses a data file's text: one player a line, seven fields split by tabs, in the order of
// SimPlayer; a CR before the LF is dropped; empty lines and lines starting with '#' are
// skipped. A line with another field count is skipped and, when problems is given, described
// there ("line 7: expected 7 fields, found 3").
std::vector<SimPlayer> ParsePlayers(std::string_view text,
                                    std::vector<std::string>* problems = nullptr);

// Reads and parses a data file; false (with the reason in error) when it cannot be read.
bool LoadPlayers(const std::string& path, std::vector<SimPlayer>* players, std::string* error);

// application/x-www-form-urlencoded decoding of one name or value: "%XY" with two hex digits
// is that byte, "+" is a blank, anything else (a stray "%" included) stays as it is.
std::string DecodeFormComponent(std::string_view s);

// The fields of a form body, split at "&" and the first "=" of each field, decoded. The first
// occurrence of a repeated name wins.
std::map<std::string, std::string> ParseFormBody(std::string_view body);

// The pages, whole UTF-8 documents with CR LF line ends.
std::string RenderResultPage(const SimPlayer& player);  // the result table
std::string RenderUnknownPage();                        // "游戏ID不存在"
std::string RenderFormPage();                           // the page a GET shows

// What the server saw of one request: the request line's parts, the header fields in the
// order the server keeps them, and the body byte for byte.
struct RecordedRequest {
  std::string method;
  std::string target;
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The value of the first header field of that name (any letter case), and how many there are.
  std::string Header(std::string_view name) const;
  std::size_t HeaderCount(std::string_view name) const;
};

class RankSimulator {
 public:
  explicit RankSimulator(std::vector<SimPlayer> players);
  ~RankSimulator();
  RankSimulator(const RankSimulator&) = delete;
  RankSimulator& operator=(const RankSimulator&) = delete;

  // Listens on 127.0.0.1 at port (0: a free port chosen by the system) and serves on a
  // thread of its own. Returns the port, or -1 when it cannot listen or already runs.
  int Start(int port = 0);
  // Stops serving and joins the thread; safe to call more than once.
  void Stop();

  int Port() const;
  // "http://127.0.0.1:<port>/rank/rank.php"
  std::string Url() const;

  // The page the simulator answers to a form body (what POST /rank/rank.php returns).
  std::string Answer(std::string_view formBody) const;

  // Every request received so far, oldest first.
  std::vector<RecordedRequest> Requests() const;
  void ClearRequests();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvel::tools
