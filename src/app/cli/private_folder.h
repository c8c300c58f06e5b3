#pragma once
// A folder of this run's own for files the job keeps only while it works (a package's
// "MV.out" and "MV.ini"): two runs started at once in one folder never share them.
#include <string>
#include <vector>

namespace romsetter {

class PrivateFolder {
 public:
  PrivateFolder();   // under the system's temporary folder; path() empty when none could be made
  ~PrivateFolder();  // removes the folder with the files named by Keep()
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  const std::string& path() const { return path_; }
  // `name` inside the folder, removed with it.
  std::string Keep(const std::string& name);

 private:
  std::string path_;
  std::vector<std::string> kept_;
};

}  // namespace romsetter
