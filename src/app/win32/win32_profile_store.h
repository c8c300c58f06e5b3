#pragma once
// The settings file through the Windows profile functions.  The bare name keeps the file in
// the Windows directory, as the program always has; a full path puts it elsewhere (tests).
#include <string>

#include "base/profile_store.h"

namespace romsetter {

class Win32ProfileStore final : public ProfileStore {
 public:
  explicit Win32ProfileStore(std::string fileName = "Romsetter.ini");

  std::string Read(const std::string& section, const std::string& key, const std::string& defaultValue) override;
  bool Write(const std::string& section, const std::string& key, const std::string& value) override;
  bool DeleteFile() override;

  // Where the profile functions keep the file: the Windows directory for a bare name.
  std::string FullPath() const;

 private:
  std::string fileName_;
};

}  // namespace romsetter
