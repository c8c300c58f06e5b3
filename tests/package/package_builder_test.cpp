// The package builder and the unpacker over real files in a scratch folder.
#include "package/package_builder.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>

#include <cstdio>

#include "app/activity_log.h"
#include "base/bytes.h"
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
    if (ok && path == corruptTail && data.size() >= corruptFromEnd) data[data.size() - corruptFromEnd] ^= 1;
    return ok;
  }
  bool refuseAppend = false;
  std::string unreadable;   // a path whose reading fails
  std::string corruptTail;  // a path whose byte `corruptFromEnd` from the end reads back changed
  std::size_t corruptFromEnd = 1;
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
  FontList fonts{log, window, process, images, pages};
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
  bool Build() { return BuildPackage(BuildPorts{files, log, window, store, fonts, process, limit}, sel, identity); }
  UnpackResult Unpack(const std::string& package, bool writeFiles) {
    ScriptedFiles reader(package);
    return UnpackSelf(UnpackPorts{reader, window, paths, process, images, &log, limit}, writeFiles);
  }
  std::uint64_t limit = kPackageLimit;
  FixedPaths paths = FixedPaths::UnderFolder(dir);
  static std::size_t Find(const Bytes& b, const std::string& text) {
    const auto at = std::search(b.begin(), b.end(), text.begin(), text.end());
    EXPECT_NE(at, b.end()) << text;
    return static_cast<std::size_t>(at - b.begin());
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

// Each refusal and failure, and what it leaves of the package file: nothing is made, and an
// earlier package of that name stays, until every part is read and checked.
TEST_F(PackageTest, EveryFailureLeavesThePackageAsItSays) {
  enum class Left { Earlier, Plain, Removed };
  const std::string package = dir + "/fw_NONE.exe";
  const Bytes earlier = PatternBytes(100, 9);
  const std::string packaged = dir + "/packaged.exe";  // a package, to be given as the program
  const std::uint64_t fits = program.size() + big.size() + small.size() + kPackageTailSize;
  struct Case {
    const char* name;
    std::function<void()> arrange;
    const char* box;  // the start of the last box
    Left left;
  };
  std::vector<Case> cases = {
      {"no program path", [&] { files = ScriptedFiles(""); }, "GetModuleFileName error!", Left::Earlier},
      {"firmware not chosen", [&] { sel.loadFirmware = false; }, "The \"Load F/W\" check box is not enabled.",
       Left::Earlier},
      {"boot path holding NONE", [&] { sel.norSelected = sel.loadBootCode = true; sel.bootPath = dir + "/NONE_OLD/b.bin"; },
       "The Boot Name can't be emptied or \"NONE\"!", Left::Earlier},
      {"big path none", [&] { sel.bigFirmwarePath = "none"; }, "Please select correct BIG block F/W!! (FW:none)",
       Left::Earlier},
      {"NOR big path none", [&] { sel.norSelected = true; sel.bigFirmwarePath = "none"; },
       "Please select correct NOR type F/W!! (FW:none)", Left::Earlier},
      {"small path NONE", [&] { sel.smallFirmwarePath = "NONE"; }, "Please select correct Small block F/W!! (FW:NONE)",
       Left::Earlier},
      {"font list NONE", [&] { sel.loadFont = true; sel.fontListPath = "NONE"; },
       "The Font List can't be emptied or \"NONE\"!", Left::Earlier},
      {"settings too long", [&] { identity.inquiryText = std::string(2100, 'x'); }, "The package settings need",
       Left::Earlier},
      {"program missing", [&] { files = ScriptedFiles(dir + "/gone.exe"); }, "Copy \"", Left::Earlier},
      {"program is a package", [&] { files = ScriptedFiles(packaged); }, "The program \"", Left::Earlier},
      {"program is a damaged package",
       [&] { Bytes b = Get(packaged); b.pop_back(); Put("cut.exe", b); files = ScriptedFiles(dir + "/cut.exe"); },
       "The program \"", Left::Earlier},
      {"output is the program by another name", [&] { files = ScriptedFiles(dir + "/./fw_NONE.exe"); },
       "The package \"", Left::Earlier},
      {"output is the small image", [&] { sel.smallFirmwarePath = dir + "/.//fw_NONE.exe"; }, "The package \"",
       Left::Earlier},
      {"one byte over the limit", [&] { limit = fits - 1; }, "The package needs 13220 bytes, more than the 13219",
       Left::Earlier},
      {"small image missing", [&] { sel.smallFirmwarePath = dir + "/gone.bin"; }, "Open F/W \"", Left::Earlier},
      {"font list unusable", [&] { sel.loadFont = true; WriteFile(dir + "/fonts.tab", "gone.fnt\r\n"); }, "The gone.fnt",
       Left::Earlier},
      {"package not writable", [&] { files.refuseAppend = true; }, "Can't open the \"", Left::Plain},
      {"read-back differs in the payload", [&] { files.corruptTail = package; files.corruptFromEnd = 5000; }, "The \"",
       Left::Removed},
      {"read-back differs", [&] { files.corruptTail = package; }, "The \"", Left::Removed},
  };
#ifndef _WIN32
  cases.insert(cases.begin() + 12, Case{"output is the program by a hard link", [&] {
    ASSERT_EQ(link(package.c_str(), (dir + "/linked.exe").c_str()), 0);
    files = ScriptedFiles(dir + "/linked.exe");
  }, "The package \"", Left::Earlier});
#endif
  sel.bigFirmwarePath = dir + "/packaged.bin";
  Put("packaged.bin", big);
  ASSERT_TRUE(Build());
  ASSERT_EQ(std::rename(sel.packPath.c_str(), packaged.c_str()), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files = ScriptedFiles(dir + "/prog.exe");
    sel = Selections{};
    SetUp();
    identity.inquiryText = "Morvent  Disk";
    limit = kPackageLimit;
    std::remove((dir + "/linked.exe").c_str());
    Put("fw_NONE.exe", earlier);
    Put("fw_fonts.exe", earlier);  // the name a font build makes
    sel.packPath = "earlier";
    c.arrange();
    const std::string made = sel.loadFont ? dir + "/fw_fonts.exe" : package;
    EXPECT_FALSE(Build());
    EXPECT_EQ(LastBox().rfind(c.box, 0), 0u) << LastBox();
    EXPECT_EQ(window.messages.back().icon, MessageIcon::Error);
    EXPECT_EQ(FileExists(made), c.left != Left::Removed) << c.name;
    if (c.left != Left::Removed) {
      EXPECT_EQ(Get(made), c.left == Left::Plain ? program : earlier);
    }
    const bool refusal = &c - cases.data() < 8;
    EXPECT_EQ(sel.packPath == "earlier", refusal);  // composed only past every refusal
  }
  EXPECT_EQ(sel.packPath, "");  // a failed read-back clears it
  EXPECT_EQ(LastBox(), "The \"" + package + "\" file is built FAILURE.");

  // At the limit exactly, the package is built, and the reader with the same limit opens it.
  std::remove(package.c_str());
  files.corruptTail.clear();
  limit = fits;
  ASSERT_TRUE(Build()) << LastBox();
  EXPECT_EQ(Get(package).size(), fits);
  EXPECT_EQ(Unpack(package, false), UnpackResult::Package);
  limit = fits - 1;
  EXPECT_EQ(Unpack(package, false), UnpackResult::Failed);
  EXPECT_FALSE(FileExists(dir + "/MV.out"));  // a copy too large to read does not stay
}

// Which damage a file has is the format suite's; here what the unpacker leaves of each verdict.
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
      {"settings changed", [&] { Bytes b = good; b[Find(b, "FlashType=NOR") + 12] = 'S'; return b; }(),
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

  // A package built before the whole file was checked opens as it did; its payload is still
  // checked, its settings are not.
  const std::string old = ReadFile(ROMSETTER_SOURCE_DIR "/tests/package/data/payload-crc-package.exe");
  ASSERT_EQ(old.find("Package_CRC32="), std::string::npos);
  Put("old.exe", Bytes(old.begin(), old.end()));
  EXPECT_EQ(Unpack(dir + "/old.exe", false), UnpackResult::Package);
  EXPECT_TRUE(process.package.format && process.package.backup && process.fwVersion == "1.2.3");
  Bytes changed(old.begin(), old.end());
  changed[Find(changed, "Chk_Backup=1") + 11] = '0';
  Put("old.exe", changed);
  EXPECT_EQ(Unpack(dir + "/old.exe", false), UnpackResult::Package);
  changed[40] ^= 1;
  Put("old.exe", changed);
  EXPECT_EQ(Unpack(dir + "/old.exe", false), UnpackResult::Damaged);
}

// Every file the extraction cannot write is named, the others are written, and the settings
// come from the package whatever became of its settings file.
TEST_F(PackageTest, ExtractionNamesEveryFileItCouldNotWrite) {
  sel.loadFont = true;
  ASSERT_TRUE(Build());
  const std::string folder = dir + "/a-folder";
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  struct Case {
    const char* name;
    std::string FixedPaths::*file;
    std::string path;
  };
  std::vector<Case> cases = {{"image over a folder", &FixedPaths::packageBig, folder},
                             {"settings over a folder", &FixedPaths::packageIni, folder}};
#ifndef _WIN32
  cases.push_back({"image on a full disk", &FixedPaths::packageFont, "/dev/full"});
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    paths = FixedPaths::UnderFolder(dir);
    paths.*c.file = c.path;
    std::remove((dir + "/MV_Small.bin").c_str());
    process = ProcessState{};
    window.status.clear();
    EXPECT_EQ(Unpack(sel.packPath, true), UnpackResult::Unwritten);
    EXPECT_EQ(LastBox(), "Writing " + c.path + " failed.");
    EXPECT_EQ(window.messages.back().icon, MessageIcon::Error);
    EXPECT_NE(std::find_if(window.status.begin(), window.status.end(),
                           [&](const std::string& l) { return l.find(" Writing " + c.path + " failed.") != std::string::npos; }),
              window.status.end());
    EXPECT_EQ(Get(dir + "/MV_Small.bin"), small);
    EXPECT_EQ(process.packageMode, PackageMode::Package);
    EXPECT_EQ(process.presetHardwareId, identity.hardwareId);
    EXPECT_EQ(process.fwVersion, "2.05");
    EXPECT_EQ(images.Slot(ImageSlot::BigFirmware), big);
  }
  paths = FixedPaths::UnderFolder(dir);
  paths.packageBig = paths.packageIni = folder;
  EXPECT_EQ(Unpack(sel.packPath, true), UnpackResult::Unwritten);
  EXPECT_EQ(LastBox(), "Writing " + folder + ", " + folder + " failed.");

  // An output that is the package itself is refused before anything is written.
  const Bytes whole = Get(sel.packPath);
  for (std::string FixedPaths::*file : {&FixedPaths::packageOut, &FixedPaths::packageSmall}) {
    paths = FixedPaths::UnderFolder(dir);
    paths.*file = dir + "/./" + sel.packPath.substr(dir.size() + 1);
    EXPECT_EQ(Unpack(sel.packPath, true), UnpackResult::Failed);
    EXPECT_EQ(LastBox().rfind("The program \"" + sel.packPath + "\" is \"", 0), 0u) << LastBox();
    EXPECT_EQ(Get(sel.packPath), whole);
  }

  // At start-up a settings file that cannot be written is passed over without a word.
  paths = FixedPaths::UnderFolder(dir);
  paths.packageIni = folder;
  process = ProcessState{};
  window.messages.clear();
  EXPECT_EQ(Unpack(sel.packPath, false), UnpackResult::Package);
  EXPECT_TRUE(window.messages.empty());
  EXPECT_EQ(process.presetInquiryText, identity.inquiryText);
  EXPECT_TRUE(process.package.backup == false && process.fwVersion == "2.05");
}

}  // namespace
}  // namespace romsetter::test
