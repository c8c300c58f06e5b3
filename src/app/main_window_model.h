#pragma once
// The main window's state beyond the selections: the three file histories and the texts the
// core sets, kept as plain fields so the window can be refreshed from them on any platform.
#include <string>
#include <vector>

#include "base/selections.h"
#include "base/text.h"

namespace romsetter {

// A picker's drop-down list: Add sorts in as a sorted list does (letter case ignored), while
// InsertAt and RemoveAt are positional.  The current index is the picker's remembered choice,
// a plain number the caller keeps; it may point past the items, so read through CurrentItem.
class HistoryList {
 public:
  // Returns the index the item landed at.  Equal items keep their order of arrival.
  int Add(const std::string& item);
  // An index outside 0..Count() appends.  Returns the index used.
  int InsertAt(int index, const std::string& item);
  bool RemoveAt(int index);
  void Clear();

  // The first item that begins with `prefix`, letter case ignored; -1 when none.
  int FindPrefix(const std::string& prefix) const;

  int Count() const { return static_cast<int>(items_.size()); }
  bool Valid(int index) const { return index >= 0 && index < Count(); }
  // Empty text for an index outside the list.
  const std::string& At(int index) const;
  const std::vector<std::string>& items() const { return items_; }

  int current() const { return current_; }
  void SetCurrent(int index) { current_ = index; }
  // Null when the current index names no item.
  const std::string* CurrentItem() const { return Valid(current_) ? &items_[current_] : nullptr; }

 private:
  std::vector<std::string> items_;
  int current_ = -1;
};

// Letter-case-blind byte comparison as the sorted lists use it (ASCII letters only).

struct MainWindowModel {
  Selections selections;
  HistoryList bootHistory;
  HistoryList bigHistory;
  HistoryList smallHistory;
  std::string versionLabel;
  // "Bi&g" in NAND mode, "NOR" in NOR mode; the window has no other way to learn it.
  std::string bigButtonCaption = "Bi&g";
};

}  // namespace romsetter
