#include "app/query_window.h"

#include <string>
#include <string_view>

#include "app/query.h"
#include "text/convert.h"

namespace quorvel {

namespace {

using platform::UiRect;

std::string_view View(const Text& t) { return t.view(); }

Text FromUi(std::string&& gbk) { return Text(std::move(gbk)); }

}  // namespace

void ShowMessageBox(const Text& text, std::optional<Text> title) {
  static const Text kDefaultTitle = Gbk("信息：");
  platform::UiShowMessage(View(text), View(title ? *title : kDefaultTitle));
}

Text QueryWindow::Caption() { return Text("Quorvel  https://quorvel.net"); }

const TextArray& QueryWindow::RegionItems() {
  static const TextArray items = [] {
    TextArray a;
    for (const char* item : {
             "艾欧尼亚 电信一",   "比尔吉沃特 网通一", "祖安 电信二",       "诺克萨斯 电信三",
             "德玛西亚 网通二",   "班德尔城 电信四",   "皮尔特沃夫 电信五", "战争学院 电信六",
             "费雷尔卓德 网通三", "巨神峰 电信七",     "雷瑟守备 电信八",   "无畏先锋 网通四",
             "裁决之地 电信九",   "黑色玫瑰 电信十",   "暗影岛 电信十一",   "钢铁烈阳 电信十二",
             "恕瑞玛 网通五",     "均衡教派 电信十三", "水晶之痕 电信十四", "教育网 专区",
             "影流 电信十五",     "守望之海 电信十六", "扭曲丛林 网通六",   "征服之海 电信十七",
             "卡拉曼达 电信十八", "皮城警备 电信十九",
         }) {
      AppendText(a, Gbk(item));
    }
    return a;
  }();
  return items;
}

QueryWindow::QueryWindow()
    : window_("QueryWindow", View(Caption()), kClientWidth, kClientHeight),
      regionLabel_(
          window_.AddLabel(View(Gbk("标签_大区")), UiRect{65, 12, 48, 24}, View(Gbk("游戏大区")))),
      regionList_(window_.AddComboBox(View(Gbk("组合框_")), UiRect{121, 16, 152, 20})),
      idLabel_(window_.AddLabel(View(Gbk("标签_ID")), UiRect{72, 40, 48, 24}, View(Gbk("游戏ID")))),
      playerIdBox_(window_.AddEditBox(View(Gbk("编辑框_游戏ID")), UiRect{120, 43, 152, 20})),
      queryButton_(window_.AddButton(View(Gbk("按钮_rank")), UiRect{88, 72, 192, 24},
                                     View(Gbk("查询rank分")), [this] { OnButtonClick(); })),
      signatureLabel_(
          window_.AddLabel(View(Gbk("标签1")), UiRect{288, 24, 48, 32}, View(Text("ID:Zerdan")))) {
  for (const Text& item : RegionItems().items()) regionList_.AddItem(View(item));
  regionList_.SetCurrentIndex(0);
}

QueryWindow::~QueryWindow() {
  if (busy_) SetBusy(false);
}

void QueryWindow::Show() { window_.ShowCentred(); }

Text QueryWindow::PlayerId() const { return FromUi(playerIdBox_.Text()); }

int QueryWindow::SelectedRegionIndex() const { return regionList_.CurrentIndex(); }

Text QueryWindow::RegionItemText(int index) const { return FromUi(regionList_.ItemText(index)); }

void QueryWindow::ShowMessageBox(const Text& text, std::optional<Text> title) const {
  quorvel::ShowMessageBox(text, std::move(title));
}

void QueryWindow::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  window_.SetInputEnabled(!busy);
  platform::UiSetWaitCursor(busy);
  // The handler blocks the thread next; let the disabled look and the cursor show first.
  if (busy) platform::UiFlush();
}

void QueryWindow::OnButtonClick() {
  // One query at a time, even if a click reaches the button while one runs.
  if (inClick_) return;
  struct ClickScope {
    QueryWindow& w;
    explicit ClickScope(QueryWindow& window) : w(window) { w.inClick_ = true; }
    ~ClickScope() {
      w.inClick_ = false;
      w.SetBusy(false);  // nothing of a click outlives it, the busy state included
    }
  } scope(*this);
  OnQueryClick(*this);
}

}  // namespace quorvel
