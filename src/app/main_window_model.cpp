#include "app/main_window_model.h"

#include <algorithm>

namespace romsetter {

namespace {

unsigned char Fold(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}

}  // namespace

int CompareNoCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = Fold(a[i]);
    const unsigned char y = Fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (prefix.size() > text.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Fold(text[i]) != Fold(prefix[i])) return false;
  }
  return true;
}

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
