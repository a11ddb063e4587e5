// The query window: the region list, the player-ID box and the query button, and the
// message box that is the tool's one output channel.
#pragma once

#include <optional>

#include "platform/ui/ui.h"
#include "text/text.h"

namespace quorvel {

// Shows a modal message box with one OK button and no icon, owned by no window and modal
// to the whole application; returns when the user closes it. CR LF in the text is a line
// break. Without a title the box is titled "信息：".
void ShowMessageBox(const Text& text, std::optional<Text> title = std::nullopt);

class QueryWindow {
 public:
  static constexpr int kRegionCount = 26;
  // Client size: the controls with the margins they have in a 363 x 136 outer window.
  static constexpr int kClientWidth = 347;
  static constexpr int kClientHeight = 97;

  // Creates the window with all its controls (item 0 of the region list selected, the
  // player-ID box empty), not yet shown. Needs a live platform::UiApplication.
  QueryWindow();
  ~QueryWindow();
  QueryWindow(const QueryWindow&) = delete;
  QueryWindow& operator=(const QueryWindow&) = delete;

  // Centres the window on the screen and shows it.
  void Show();

  // The content of the player-ID box; the empty Text for an empty box.
  Text PlayerId() const;
  // The selected item of the region list, -1 when none.
  int SelectedRegionIndex() const;
  // Item `index` of the region list; the empty Text outside 0 .. kRegionCount - 1.
  Text RegionItemText(int index) const;

  // The same box as the free ShowMessageBox (it has no owner either).
  void ShowMessageBox(const Text& text, std::optional<Text> title = std::nullopt) const;

  // Busy while a query runs: the application shows the wait cursor and the window takes no
  // input, so no second query can start; false undoes both. Repeated calls with the same
  // value change nothing.
  void SetBusy(bool busy);
  bool IsBusy() const noexcept { return busy_; }

  // The window's caption and the texts of its list, as the window shows them.
  static Text Caption();
  static const TextArray& RegionItems();

 private:
  void OnButtonClick();

  platform::UiWindow window_;
  platform::UiLabel regionLabel_;
  platform::UiComboBox regionList_;
  platform::UiLabel idLabel_;
  platform::UiEditBox playerIdBox_;
  platform::UiButton queryButton_;
  platform::UiLabel signatureLabel_;
  bool busy_ = false;
  bool inClick_ = false;
};

}  // namespace quorvel
