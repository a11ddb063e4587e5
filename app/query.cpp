#include "app/query.h"

#include "app/query_window.h"
#include "app/rank_url.h"
#include "text/convert.h"
#include "web/web_request.h"

namespace quorvel {
namespace {

// True while a query runs on this thread: a click that arrives meanwhile (through a nested
// event loop) is dropped instead of starting a second query.
thread_local bool queryRunning = false;

class QueryRunningScope {
 public:
  QueryRunningScope() { queryRunning = true; }
  ~QueryRunningScope() { queryRunning = false; }
  QueryRunningScope(const QueryRunningScope&) = delete;
  QueryRunningScope& operator=(const QueryRunningScope&) = delete;
};

// The window's busy state (wait cursor, no input) for the length of the request.
class BusyScope {
 public:
  explicit BusyScope(QueryWindow& window) : window_(window) { window_.SetBusy(true); }
  ~BusyScope() { window_.SetBusy(false); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  QueryWindow& window_;
};

}  // namespace

Text RankUrl() { return Text(QUORVEL_RANK_URL); }

void OnQueryClick(QueryWindow& window) { OnQueryClick(window, RankUrl()); }

void OnQueryClick(QueryWindow& window, const Text& rankUrl) {
  if (queryRunning) return;
  QueryRunningScope running;

  const Text playerId = window.PlayerId();
  // A blank ID would post an empty nickname: ask for one instead.
  if (TrimText(playerId).empty()) {
    window.ShowMessageBox(Gbk("请输入游戏ID！"));
    return;
  }
  const Text itemText = window.RegionItemText(window.SelectedRegionIndex());
  const Text form = QueryFormBody(itemText, playerId);

  QueryAnswer answer;
  {
    BusyScope busy(window);
    const Bytes body = WebRequest(rankUrl, 1, form);
    answer = ReadQueryResult(body);
  }
  window.ShowMessageBox(answer.message, answer.title);
}

}  // namespace quorvel
