#pragma once
// The settings file as a plain INI file in a folder of the caller's choosing, read and
// written the way the Windows profile functions treat theirs, so the rest of the program
// cannot tell the two stores apart.
#include <cstddef>
#include <string>

#include "base/profile_store.h"

namespace romsetter {

// Whether a write could be stored without changing the file's structure: section and key
// not empty, no line breaks anywhere, no '=' in the key and no ']' in the section.  Both
// stores refuse anything else rather than let a value turn into lines of its own.
bool ProfileEntryWritable(const std::string& section, const std::string& key, const std::string& value);

// The settings text in memory, read and changed as IniProfileStore reads and changes its
// file (the store is these plus the file).
// Empty when the text can be used; else why not, in a few words ("line 3 holds binary data").
std::string IniTextProblem(const std::string& text);
std::string IniTextRead(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& defaultValue);
// False, and `text` unchanged, when the entry cannot be stored or the text would outgrow the
// file limit.
bool IniTextWrite(std::string& text, const std::string& section, const std::string& key, const std::string& value);

class IniProfileStore final : public ProfileStore {
 public:
  static constexpr const char* kFileName = "Romsetter.ini";
  // A settings file is a few kilobytes; anything far larger is not one of ours and is
  // neither parsed nor overwritten.
  static constexpr std::size_t kFileLimit = 4u << 20;

  // Longest line a settings file of ours can have; longer ones are not ours.
  static constexpr std::size_t kLineLimit = 4096;

  explicit IniProfileStore(const std::string& folder);

  // Whether the file (if there is one) can be used: readable, within kFileLimit, text only
  // and no line over kLineLimit.  False with a one-line `error` naming the file otherwise.
  bool Check(std::string& error) const;

  std::string Read(const std::string& section, const std::string& key, const std::string& defaultValue) override;
  bool Write(const std::string& section, const std::string& key, const std::string& value) override;
  bool DeleteFile() override;

  const std::string& path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
};

}  // namespace romsetter
