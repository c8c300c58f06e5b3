#include "app/settings_file_suite.h"
#include "app/win32/win32_profile_store.h"

namespace romsetter::test {
namespace {

struct Win32SettingsMaker {
  static std::unique_ptr<ProfileStore> Make(const std::string& dir) {
    return std::make_unique<Win32ProfileStore>(FilePath(dir));
  }
  static std::string FilePath(const std::string& dir) { return dir + "\\Romsetter.ini"; }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, SettingsFileSuite, Win32SettingsMaker);

}  // namespace
}  // namespace romsetter::test
