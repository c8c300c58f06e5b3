// The package builder and the unpacker over real files in a scratch folder.
#include "package/package_builder.h"

#include <gtest/gtest.h>

#include "app/activity_log.h"
#include "app/in_memory_profile_store.h"
#include "package/package_format.h"
#include "package/sample_images.h"
#include "package/unpack.h"
#include "support/test_support.h"

namespace romsetter::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Files that fail where a test asks them to, else the C library's.
class ScriptedFiles : public StdioPackageFiles {
 public:
  using StdioPackageFiles::StdioPackageFiles;
  bool CanAppend(const std::string& path, std::uint32_t& error) override {
    if (refuseAppend) {
      error = 13;
      return false;
    }
    return StdioPackageFiles::CanAppend(path, error);
  }
  bool Read(const std::string& path, std::size_t limit, Bytes& data, std::uint32_t& error) override {
    if (path == unreadable) {
      error = 5;
      return false;
    }
    const bool ok = StdioPackageFiles::Read(path, limit, data, error);
    if (ok && path == corruptTail && !data.empty()) data.back() ^= 1;
    return ok;
  }
  bool refuseAppend = false;
  std::string unreadable;   // a path whose reading fails
  std::string corruptTail;  // a path whose last byte reads back changed
};

struct PackageTest : ::testing::Test {
  std::string dir = ScratchForCurrentTest("package");
  RecordingWindow window;
  ActivityLog log{dir + "/Romsetter.log", window};
  ProcessState process;
  Selections sel;
  ImageStore images;
  ImagePageCounts pages;
  InMemoryProfileStore store;
  FontList fonts{sel, log, window, process, images, pages};
  ScriptedFiles files{dir + "/prog.exe"};
  PackageIdentity identity{"USBSTOR\\DiskX", "SYSTEM\\X", "Morvent  Disk"};
  Bytes program = PatternBytes(5000, 1), big = PatternBytes(4096, 2), small = PatternBytes(2048, 3),
        boot = PatternBytes(1024, 4);

  void SetUp() override {
    Put("prog.exe", program);
    Put("fw.bin", big);
    Put("small.bin", small);
    Put("boot.bin", boot);
    Put("A.FNT", PatternBytes(700, 5));
    WriteFile(dir + "/fonts.tab", dir + "/A.FNT\r\n");
    sel.bigFirmwarePath = dir + "/fw.bin";
    sel.smallFirmwarePath = dir + "/small.bin";
    sel.bootPath = dir + "/boot.bin";
    sel.fontListPath = dir + "/fonts.tab";
    sel.reportPath = dir + "/fonts.h";
    process.fwVersion = "2.05";
  }
  void Put(const std::string& name, const Bytes& data) { WriteFile(dir + "/" + name, std::string(data.begin(), data.end())); }
  Bytes Get(const std::string& path) {
    const std::string s = ReadFile(path);
    return Bytes(s.begin(), s.end());
  }
  bool Build() { return BuildPackage(BuildPorts{files, log, window, store, fonts, process}, sel, identity); }
  UnpackResult Unpack(const std::string& package, bool writeFiles) {
    ScriptedFiles reader(package);
    const FixedPaths paths = FixedPaths::UnderFolder(dir);
    return UnpackSelf(UnpackPorts{reader, window, paths, process, images}, writeFiles);
  }
  std::string LastBox() const { return window.messages.empty() ? "" : window.messages.back().text; }
};

TEST_F(PackageTest, BuildThenUnpackGivesBackEveryImage) {
  const struct {
    const char* name;
    bool nor, boot, font;
    const char* file;
  } cases[] = {{"NAND with fonts", false, false, true, "/fw_fonts.exe"},
               {"NOR with boot code", true, true, false, "/fw_NONE_boot.exe"},
               {"NOR with neither", true, false, false, "/fw_NONE_NOBOOT.exe"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sel.norSelected = c.nor;
    sel.loadBootCode = c.boot;
    sel.loadFont = c.font;
    sel.backupChecked = !c.nor;
    ASSERT_TRUE(Build()) << LastBox();
    EXPECT_EQ(sel.packPath, dir + c.file);
    EXPECT_EQ(LastBox(), "The \"" + sel.packPath + "\" file is built OK.");
    EXPECT_EQ(store.Read("Romsetter", "PackFile", ""), sel.packPath);

    process = ProcessState{};
    images = ImageStore{};
    ASSERT_EQ(Unpack(sel.packPath, true), UnpackResult::Package);
    EXPECT_EQ(process.packageMode, PackageMode::Package);
    EXPECT_EQ(process.package.programLength, program.size());
    EXPECT_EQ(images.Slot(ImageSlot::BigFirmware), big);
    EXPECT_EQ(images.Slot(ImageSlot::SmallFirmware), c.nor ? Bytes{} : small);
    EXPECT_EQ(images.Slot(ImageSlot::BootCode), c.boot ? boot : Bytes{});
    EXPECT_EQ(images.Slot(ImageSlot::FontData).size(), c.font ? 1024u : 0u);
    EXPECT_EQ(Get(dir + "/MV_Big.bin"), big);  // every part is written, an empty one too
    EXPECT_TRUE(FileExists(dir + "/MV_Small.bin") && FileExists(dir + "/MV_Boot.nor"));
    EXPECT_FALSE(FileExists(dir + "/MV.out"));
    EXPECT_EQ(process.presetHardwareId, identity.hardwareId);
    EXPECT_EQ(process.presetInquiryText, identity.inquiryText);
    EXPECT_EQ(process.fwVersion, "2.05");
    EXPECT_EQ(process.package.nor, c.nor);
    EXPECT_EQ(process.package.backup, !c.nor);
    Selections preset;
    ApplyPackageSelections(process, preset);
    EXPECT_TRUE(preset.loadFirmware && preset.norSelected == c.nor && preset.loadBootCode == c.boot &&
                preset.loadFont == c.font && preset.backupChecked == !c.nor);
    process.fwVersion = "2.05";
  }
}

// Each refusal and failure, and what it leaves of the package file.
TEST_F(PackageTest, EveryFailureLeavesThePackageAsItSays) {
  enum class Left { None, Plain, Removed };
  const std::string package = dir + "/fw_NONE.exe";
  struct Case {
    const char* name;
    std::function<void()> arrange;
    const char* box;  // the start of the last box
    Left left;
  } cases[] = {
      {"no program path", [&] { files = ScriptedFiles(""); }, "GetModuleFileName error!", Left::None},
      {"firmware not chosen", [&] { sel.loadFirmware = false; }, "The \"Load F/W\" check box is not enabled.",
       Left::None},
      {"boot path holding NONE", [&] { sel.norSelected = sel.loadBootCode = true; sel.bootPath = dir + "/NONE_OLD/b.bin"; },
       "The Boot Name can't be emptied or \"NONE\"!", Left::None},
      {"big path none", [&] { sel.bigFirmwarePath = "none"; }, "Please select correct BIG block F/W!! (FW:none)",
       Left::None},
      {"NOR big path none", [&] { sel.norSelected = true; sel.bigFirmwarePath = "none"; },
       "Please select correct NOR type F/W!! (FW:none)", Left::None},
      {"small path NONE", [&] { sel.smallFirmwarePath = "NONE"; }, "Please select correct Small block F/W!! (FW:NONE)",
       Left::None},
      {"font list NONE", [&] { sel.loadFont = true; sel.fontListPath = "NONE"; },
       "The Font List can't be emptied or \"NONE\"!", Left::None},
      {"settings too long", [&] { identity.inquiryText = std::string(2100, 'x'); }, "The package settings need",
       Left::None},
      {"program missing", [&] { files = ScriptedFiles(dir + "/gone.exe"); }, "Copy \"", Left::None},
      {"package not writable", [&] { files.refuseAppend = true; }, "Can't open the \"", Left::Plain},
      {"small image missing", [&] { sel.smallFirmwarePath = dir + "/gone.bin"; }, "Open F/W \"", Left::Removed},
      {"font list unusable", [&] { sel.loadFont = true; WriteFile(dir + "/fonts.tab", "gone.fnt\r\n"); }, "The gone.fnt",
       Left::Removed},
      {"read-back differs", [&] { files.corruptTail = package; }, "The \"", Left::Removed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files = ScriptedFiles(dir + "/prog.exe");
    sel = Selections{};
    SetUp();
    identity.inquiryText = "Morvent  Disk";
    std::remove(package.c_str());
    sel.packPath = "earlier";
    c.arrange();
    EXPECT_FALSE(Build());
    EXPECT_EQ(LastBox().rfind(c.box, 0), 0u) << LastBox();
    EXPECT_EQ(window.messages.back().icon, MessageIcon::Error);
    EXPECT_EQ(FileExists(package), c.left == Left::Plain) << c.name;
    if (c.left == Left::Plain) {
      EXPECT_EQ(Get(package), program);
    }
    const bool refusal = &c - cases < 8;
    EXPECT_EQ(sel.packPath == "earlier", refusal);  // composed only past every refusal
  }
  EXPECT_EQ(sel.packPath, "");  // a failed read-back clears it
  EXPECT_EQ(LastBox(), "The \"" + package + "\" file is built FAILURE.");
}

TEST_F(PackageTest, PlainAndDamagedProgramsLoadNothing) {
  sel.norSelected = true;
  ASSERT_TRUE(Build());
  const Bytes good = Get(sel.packPath);
  const struct {
    const char* name;
    Bytes file;
    UnpackResult result;
  } cases[] = {
      {"plain program", program, UnpackResult::Plain},
      {"magic inside the program only", [&] { Bytes b = program; std::copy(kPackageMagic, kPackageMagic + 8, b.begin() + 100); return b; }(),
       UnpackResult::Plain},
      {"one byte short", Bytes(good.begin() + 1, good.end()), UnpackResult::Damaged},
      {"payload changed", [&] { Bytes b = good; b[program.size() + 7] ^= 0x40; return b; }(), UnpackResult::Damaged},
      {"length near 4 GiB", [&] { Bytes b = good; b[b.size() - 16] = 0xF0; b[b.size() - 15] = 0xFF; b[b.size() - 14] = 0xFF; b[b.size() - 13] = 0xFF; return b; }(),
       UnpackResult::Damaged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Put("in.exe", c.file);
    process = ProcessState{};
    images = ImageStore{};
    window.messages.clear();
    EXPECT_EQ(Unpack(dir + "/in.exe", false), c.result);
    EXPECT_EQ(process.packageMode, c.result == UnpackResult::Plain ? PackageMode::Plain : PackageMode::Undecided);
    EXPECT_FALSE(images.Held(ImageSlot::BigFirmware));
    EXPECT_EQ(window.messages.empty(), c.result == UnpackResult::Plain);
    if (c.result == UnpackResult::Damaged) {
      EXPECT_EQ(LastBox().rfind("The package is damaged: ", 0), 0u) << LastBox();
    }
  }
}

}  // namespace
}  // namespace romsetter::test
