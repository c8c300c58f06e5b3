#include "flash/boot_upgrade.h"

#include <tuple>

#include "flash/flash_rig.h"

namespace romsetter::test {
namespace {

// Write, read and mark failures of the boot copy are in the fault matrix.
struct BootRig : FlashRig {
  BootRig() : FlashRig(true, "boot_upgrade") { image = LoadBoot(5); }
  bool Run() { return BootUpgrader(*context).UpgradeBootFromFile(); }
  Bytes image;
};

// The rewrite itself (same data, same page) is in the fault matrix, its lines in the
// flash-copy-lines transcript; here that no restart follows.
TEST(BootUpgrade, ARewriteIsMarkedAndTheCopyGoesOn) {
  BootRig rig;
  rig.AddFault(FaultKind::CorruptOnce, "UPT_READ_PAGE", 0x101, 0, 9);
  ASSERT_TRUE(rig.Run());
  EXPECT_EQ(rig.device.trace().front().command, "UPT_BOOT_ERASE_MEM");
  EXPECT_EQ(rig.Writes().size(), 6u);
  EXPECT_TRUE(rig.device.TraceOf("UPT_FW_RESTART_SYS").empty());
  EXPECT_FALSE(FileExists(rig.paths.bootWriteDump));
}

TEST(BootUpgrade, DebugOptionDumpsTheFailingPageAndMarksNothing) {
  BootRig rig;
  rig.selections.debugWritePageError = true;
  rig.AddFault(FaultKind::CorruptOnce, "UPT_READ_PAGE", 0x102, 0, 9);
  EXPECT_FALSE(rig.Run());
  Bytes page = PageOf(rig.image, 2);
  EXPECT_EQ(ReadFile(rig.paths.bootWriteDump), std::string(page.begin(), page.end()));
  page[9] ^= 0xFF;
  EXPECT_EQ(ReadFile(rig.paths.bootReadDump), std::string(page.begin(), page.end()));
  EXPECT_TRUE(rig.Marks().empty());
  EXPECT_EQ(rig.Writes().size(), 3u);
  EXPECT_EQ(rig.Lines().back(), "Debug_Write_Page_Error");
}

// A failed erase, a full region, unusable counts (refused before the erase), a missing file (told
// in a box) and a file that has changed since its check; `sent` counts the erase and a write and
// a read per page.
// Whatever stops the boot code before its first page stops it before the erase too.
TEST(BootUpgrade, StopsWithItsLine) {
  const std::tuple<void (*)(BootRig&), std::size_t, const char*> cases[] = {
      {[](BootRig& r) { r.AddFault(FaultKind::BadStatus, "UPT_BOOT_ERASE_MEM"); }, 1, "UPT_BOOT_ERASE_MEM Failed!!"},
      {[](BootRig& r) { r.map.bootSize = 3; }, 0, "Device Memory is not enough."},
      {[](BootRig& r) { r.map.bootSize = 0; }, 0, "Device Memory is not enough."},
      {[](BootRig& r) { r.pages.bootImagePages = 0; }, 0, "Boot image has no pages to write."},
      {[](BootRig& r) { r.selections.bootPath += ".gone"; }, 0, "can't open Boot file"},
      {[](BootRig& r) { WriteFile(r.selections.bootPath, std::string(3 * 512, 'x')); }, 0, "No data any more..."},
      {[](BootRig& r) { WriteFile(r.selections.bootPath, std::string(3 * 512 + 100, 'x')); }, 0,
       "No data any more..."}};
  for (const auto& [setUp, sent, line] : cases) {
    SCOPED_TRACE(line);
    BootRig rig;
    setUp(rig);
    EXPECT_FALSE(rig.Run());
    EXPECT_EQ(rig.device.trace().size(), sent);
    EXPECT_EQ(rig.window.messages.empty() ? rig.Lines().back() : rig.window.messages.at(0).text, line);
  }
}

}  // namespace
}  // namespace romsetter::test
