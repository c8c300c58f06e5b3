#pragma once
// Settings that live only as long as the process: for scripted runs that must leave no
// settings file behind.  Reads like the profile functions (trailing blanks dropped, values
// cut to 259 characters, names without regard to case).
#include <map>
#include <string>
#include <utility>

#include "base/profile_store.h"
#include "base/text.h"

namespace romsetter {

class InMemoryProfileStore final : public ProfileStore {
 public:
  std::string Read(const std::string& section, const std::string& key, const std::string& defaultValue) override {
    const auto it = values_.find({Fold(section), Fold(key)});
    if (it == values_.end()) return defaultValue;
    std::string v = it->second.substr(0, kValueLimit);
    while (!v.empty() && v.back() == ' ') v.pop_back();
    return v;
  }
  bool Write(const std::string& section, const std::string& key, const std::string& value) override {
    values_[{Fold(section), Fold(key)}] = value;
    return true;
  }
  bool DeleteFile() override {
    values_.clear();
    return true;
  }

 private:
  static std::string Fold(const std::string& s) { return AsciiUpper(s); }
  std::map<std::pair<std::string, std::string>, std::string> values_;
};

}  // namespace romsetter
