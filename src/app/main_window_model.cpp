#include "app/main_window_model.h"

#include <algorithm>

namespace romsetter {

namespace {

const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}

}  // namespace

int HistoryList::Add(const std::string& item) {
  const auto at = std::upper_bound(items_.begin(), items_.end(), item, [](const std::string& a, const std::string& b) {
    return CompareNoCase(a, b) < 0;
  });
  return static_cast<int>(items_.insert(at, item) - items_.begin());
}

int HistoryList::InsertAt(int index, const std::string& item) {
  if (index < 0 || index > Count()) index = Count();
  items_.insert(items_.begin() + index, item);
  return index;
}

bool HistoryList::RemoveAt(int index) {
  if (!Valid(index)) return false;
  items_.erase(items_.begin() + index);
  return true;
}

void HistoryList::Clear() {
  items_.clear();
  current_ = -1;
}

int HistoryList::FindPrefix(const std::string& prefix) const {
  for (int i = 0; i < Count(); ++i) {
    if (StartsWithNoCase(items_[i], prefix)) return i;
  }
  return -1;
}

const std::string& HistoryList::At(int index) const { return Valid(index) ? items_[index] : EmptyText(); }

}  // namespace romsetter
