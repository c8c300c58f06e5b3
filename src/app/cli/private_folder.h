#pragma once
// A folder of this run's own for files the job keeps only while it works (a package's
// "MV.out" and "MV.ini"): two runs started at once in one folder never share them.
#include <string>
#include <vector>

namespace romsetter {

class CliWindow;
struct FixedPaths;

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

// With a package to open, its working copies ("MV.out", "MV.ini") go into `work`, so two runs
// started at once in one folder never flash each other's firmware. False, after its line,
// when no such folder could be made.
bool PlacePackageCopies(const std::string& package, PrivateFolder& work, FixedPaths& paths, CliWindow& window);

}  // namespace romsetter
