// The package builder and the unpacker over real files in a scratch folder.
#include "package/package_builder.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include <cstdio>

#include "app/activity_log.h"
#include "base/bytes.h"
#include "app/in_memory_profile_store.h"
#include "package/package_format.h"
#include "package/sample_images.h"
#include "package/unpack.h"
#include "support/data_rows.h"
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
  // One change of a failed build's row (package/data/build_failures.txt).
  void Change(const std::string& change, const std::string& package) {
    const std::string name = change.substr(0, change.find('='));
    std::string value = change.substr(name.size() + 1);
    if (value.rfind("$DIR", 0) == 0) value.replace(0, 4, dir);
    const std::map<std::string, std::string*> paths = {{"bootPath", &sel.bootPath},
                                                       {"bigFirmwarePath", &sel.bigFirmwarePath},
                                                       {"smallFirmwarePath", &sel.smallFirmwarePath},
                                                       {"fontListPath", &sel.fontListPath}};
    const std::map<std::string, bool*> boxes = {{"loadFirmware", &sel.loadFirmware}, {"norSelected", &sel.norSelected},
                                                {"loadBootCode", &sel.loadBootCode}, {"loadFont", &sel.loadFont},
                                                {"refuseAppend", &files.refuseAppend}};
    if (paths.count(name)) *paths.at(name) = value;
    if (boxes.count(name)) *boxes.at(name) = value == "1";
    if (name == "program") files = ScriptedFiles(value);
    if (name == "limit") limit = std::stoull(value);
    if (name == "inquiry") identity.inquiryText = std::string(std::stoul(value), 'x');
    if (name == "fontList") WriteFile(dir + "/fonts.tab", value + "\r\n");
    if (name == "corrupt") {
      files.corruptTail = package;
      files.corruptFromEnd = std::stoul(value);
    }
#ifndef _WIN32
    if (name == "link") {
      ASSERT_EQ(link(package.c_str(), value.c_str()), 0);
    }
#endif
  }
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
    Selections preset;  // the settings read back are the extraction test's
    ApplyPackageSelections(process, preset);
    EXPECT_TRUE(preset.loadFirmware && preset.norSelected == c.nor && preset.loadBootCode == c.boot &&
                preset.loadFont == c.font && preset.backupChecked == !c.nor);
  }
}

// Each refusal and failure, and what it leaves of the package file: nothing is made, and an
// earlier package of that name stays, until every part is read and checked.
TEST_F(PackageTest, EveryFailureLeavesThePackageAsItSays) {
  const std::string package = dir + "/fw_NONE.exe";
  const Bytes earlier = PatternBytes(100, 9);
  const std::uint64_t fits = program.size() + big.size() + small.size() + kPackageTailSize;
  sel.bigFirmwarePath = dir + "/packaged.bin";
  Put("packaged.bin", big);
  ASSERT_TRUE(Build());
  ASSERT_EQ(std::rename(sel.packPath.c_str(), (dir + "/packaged.exe").c_str()), 0);
  Bytes cut = Get(dir + "/packaged.exe");
  cut.pop_back();
  Put("cut.exe", cut);
  const auto rows = ReadTable("package/data/build_failures.txt");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::vector<std::string>& row = rows[i];
    SCOPED_TRACE(row.at(0));
#ifdef _WIN32
    if (row.at(1).find("link=") != std::string::npos) continue;
#endif
    files = ScriptedFiles(dir + "/prog.exe");
    sel = Selections{};
    SetUp();
    identity.inquiryText = "Morvent  Disk";
    limit = kPackageLimit;
    std::remove((dir + "/linked.exe").c_str());
    Put("fw_NONE.exe", earlier);
    Put("fw_fonts.exe", earlier);
    sel.packPath = "earlier";
    std::istringstream changes(row.at(1));
    for (std::string change; changes >> change;) Change(change, package);
    const std::string made = sel.loadFont ? dir + "/fw_fonts.exe" : package;
    EXPECT_FALSE(Build());
    EXPECT_EQ(LastBox().rfind(row.at(2), 0), 0u) << LastBox();
    EXPECT_EQ(window.messages.back().icon, MessageIcon::Error);
    EXPECT_EQ(FileExists(made), row.at(3) != "removed");
    if (row[3] != "removed") {
      EXPECT_EQ(Get(made), row[3] == "plain" ? program : earlier);
    }
    EXPECT_EQ(sel.packPath == "earlier", i < 8);  // composed only past every refusal
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
  window.messages.clear();
  EXPECT_EQ(Unpack(dir + "/prog.exe", false), UnpackResult::Plain);
  EXPECT_EQ(process.packageMode, PackageMode::Plain);
  EXPECT_FALSE(images.Held(ImageSlot::BigFirmware));
  EXPECT_TRUE(window.messages.empty());

  Bytes edited = Get(sel.packPath);  // its settings changed
  edited[Find(edited, "FlashType=NOR") + 12] = 'S';
  Put("in.exe", edited);
  process = ProcessState{};
  EXPECT_EQ(Unpack(dir + "/in.exe", false), UnpackResult::Damaged);
  EXPECT_EQ(process.packageMode, PackageMode::Undecided);
  EXPECT_FALSE(images.Held(ImageSlot::BigFirmware));
  EXPECT_EQ(LastBox().rfind("The package is damaged: ", 0), 0u) << LastBox();

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
