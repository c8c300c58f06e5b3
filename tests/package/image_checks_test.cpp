#include "package/image_checks.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/ini_profile_store.h"
#include "base/bytes.h"
#include "support/test_support.h"

namespace romsetter::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

struct ImageChecksTest : ::testing::Test {
  std::string dir = ScratchDir(std::string("checks_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  RecordingWindow window;
  ActivityLog log{dir + "/Romsetter.log", window};
  ProcessState process;
  MainWindowModel model;
  ImageStore images;
  ImagePageCounts pages;
  IniProfileStore store{dir};
  SettingsFile settings{store, model, process, window, nullptr};
  ImageChecks checks{log, window, process, model, images, pages, settings};

  std::string Put(const Bytes& bytes, const std::string& name = "img.bin") {
    WriteFile(dir + "/" + name, std::string(bytes.begin(), bytes.end()));
    return dir + "/" + name;
  }
  bool Big(const Bytes& bytes) {
    model.selections.bigFirmwarePath = Put(bytes);
    pages.bigImagePages = 0;  // as the job does before each check
    return checks.CheckFirmwareFile(1);
  }
  Lines Logged() const { return StripNumbers({window.status.begin(), window.status.end()}); }
  std::string Last(std::size_t back = 1) const { return Logged()[window.status.size() - back]; }
  std::string Box() const { return window.messages.empty() ? "" : window.messages.back().text; }
};

Bytes ExamplePage() {  // words 0x1234 and 0x1234, the rest zero
  Bytes page(kPageSize, 0);
  page[0] = page[2] = 0x34;
  page[1] = page[3] = 0x12;
  return page;
}

// A header page, then a data page whose words the header's stored checksum balances.
Bytes HeaderImage(bool nor) {
  Bytes image(2 * kPageSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  std::copy_n("MORVENT ", 8, image.begin());
  WordXorChecksum rest;
  rest.AddWords(image.data() + (nor ? 48 : 512), image.size() - (nor ? 48 : 512));
  if (nor) WriteLe32(&image[8], 1024), WriteLe16(&image[16], rest.value());
  else WriteLe16(&image[8], 2), WriteLe16(&image[12], rest.value());
  return image;
}

TEST_F(ImageChecksTest, ChecksumExampleAndWhatEachVerdictLeaves) {
  ASSERT_TRUE(Big(ExamplePage()));
  EXPECT_EQ(Logged(), (Lines{"Checking the F/W " + model.selections.bigFirmwarePath + " file is ready",
                             "Getting the F/W file size and checksum.",
                             "OK!! the Big(Default) block FileSize=0x0001 BLKs, CheckSum=0x0000"}));
  EXPECT_EQ(images.Slot(ImageSlot::BigFirmware), ExamplePage());
  EXPECT_TRUE(window.messages.empty());

  Bytes bad = ExamplePage();
  bad[3] = 0x13;
  model.selections.smallFirmwarePath = Put(bad, "small.bin");
  process.applicationName = "Pack";
  EXPECT_FALSE(checks.CheckFirmwareFile(2));
  EXPECT_EQ(Last(), "ERROR!! the Small block FileSize=0x0001 BLKs, CheckSum=0x0100");
  EXPECT_EQ(Box(), Last());
  EXPECT_EQ(window.messages.back().caption, "Pack");
  EXPECT_EQ(window.messages.back().icon, MessageIcon::Error);
  EXPECT_FALSE(window.IsEnabled(Control::Upgrade, true));
  EXPECT_EQ(pages.smallImagePages, 1u);
  EXPECT_EQ(pages.bigImagePages, 1u);

  EXPECT_FALSE(Big({}));
  EXPECT_EQ(Last(), "ERROR!! the Big(Default) block FileSize=0x0000 BLKs, CheckSum=0x0000");
  EXPECT_EQ(Box(), Last());
}

TEST_F(ImageChecksTest, PartialPageFailsAfterCountingWithoutResultOrLoad) {
  images.Replace(ImageSlot::BigFirmware, Bytes{7});
  Bytes page = ExamplePage();
  page.push_back(0);
  EXPECT_FALSE(Big(page));
  EXPECT_EQ(Last(), "Getting the F/W file size and checksum.");
  EXPECT_EQ(Box(), "The Size of the FW file is not correct!");
  EXPECT_EQ(pages.bigImagePages, 1u);
  EXPECT_EQ(images.Slot(ImageSlot::BigFirmware), Bytes{7});
}

TEST_F(ImageChecksTest, NandHeaderKeepsItsWholePageOutOfTheSum) {
  const Bytes image = HeaderImage(false);
  for (std::size_t at = 10; at < kPageSize; ++at) {
    Bytes changed = image;
    changed[at] ^= at == 12 || at == 13 ? 0 : 0x5A;
    ASSERT_TRUE(Big(changed)) << at;
  }
  Bytes longer = image;
  WriteLe16(&longer[8], 3);
  ASSERT_TRUE(Big(longer));
  EXPECT_EQ(Last(2), "ERROR!! the F/W Header Total Len:0x00000600, CheckSum=0x0000");
  EXPECT_EQ(Last(), "OK!! the Big(Default) block FileSize=0x0002 BLKs, CheckSum=0x0000");
  for (std::size_t at : {std::size_t{12}, kPageSize}) {
    Bytes changed = image;
    changed[at] ^= 1;
    EXPECT_FALSE(Big(changed)) << at;
  }
}

TEST_F(ImageChecksTest, NorHeaderKeepsOnlyItsFirst48BytesOut) {
  model.selections.norSelected = true;
  const Bytes image = HeaderImage(true);
  for (std::size_t at = 18; at < 48; ++at) {
    Bytes changed = image;
    changed[at] ^= 0xA5;
    ASSERT_TRUE(Big(changed)) << at;
    EXPECT_EQ(Last(3).rfind("Checking", 0), 0u);  // no length warning: the header says 1024 bytes
  }
  Bytes changed = image;
  changed[48] ^= 1;
  EXPECT_FALSE(Big(changed));
}

TEST_F(ImageChecksTest, MagicNeedsItsTrailingBlank) {
  Bytes image = ExamplePage();
  std::copy_n("MORVENT", 8, image.begin());  // NUL where the blank belongs
  WordXorChecksum sum;
  sum.AddWords(image.data(), image.size());
  WriteLe16(&image[12], sum.value());  // balanced only when every word counts
  EXPECT_TRUE(Big(image));
}

TEST_F(ImageChecksTest, FilesThatCannotBeCheckedLeaveTheSlotAlone) {
  images.Replace(ImageSlot::BigFirmware, Bytes{7});
  model.selections.bigFirmwarePath = dir + "/missing.bin";
  EXPECT_FALSE(checks.CheckFirmwareFile(1));
  EXPECT_EQ(Logged()[1], "PrintError.ErrorCode=2");
  EXPECT_EQ(Box(), "Please input the Big(Default) block file name first!");
  EXPECT_EQ(window.messages.back().icon, MessageIcon::None);
  EXPECT_TRUE(window.IsEnabled(Control::BigButton));

  model.selections.bigFirmwarePath = dir;  // a folder
  EXPECT_FALSE(checks.CheckFirmwareFile(1));
  EXPECT_EQ(Box(), "Can't open the file specified");

  model.selections.bigFirmwarePath = Put({});
  std::filesystem::resize_file(model.selections.bigFirmwarePath, std::uintmax_t{kMaxImagePages + 1} * kPageSize);
  EXPECT_FALSE(checks.CheckFirmwareFile(1));
  EXPECT_EQ(Box(), "The Big(Default) block file is too large: more than 0xFFFF BLKs.");
  EXPECT_EQ(pages.bigImagePages, 0u);
  EXPECT_EQ(images.Slot(ImageSlot::BigFirmware), Bytes{7});

  std::filesystem::resize_file(model.selections.bigFirmwarePath, std::uintmax_t{kMaxImagePages} * kPageSize);
  EXPECT_TRUE(checks.CheckFirmwareFile(1));  // the largest image a device can hold
  EXPECT_EQ(Last(), "OK!! the Big(Default) block FileSize=0xFFFF BLKs, CheckSum=0x0000");
}

TEST_F(ImageChecksTest, BootCheckRecordsTheFileOnlyWhenItPasses) {
  model.selections.loadBootCode = true;
  model.bootHistory.Add("NONE0");
  model.bootHistory.Add("C:\\b.bin");
  pages.bootImagePages = 9;
  Bytes bad = ExamplePage();
  bad[0] = bad[1] = 0;
  model.selections.bootPath = Put(bad);
  EXPECT_FALSE(checks.CheckBootFile());
  EXPECT_EQ(Last(), "ERROR!! the Boot File Size=0x0001 BLKs, CheckSum=0x1234");
  EXPECT_FALSE(FileExists(store.path()));

  model.selections.bootPath = Put(ExamplePage());
  EXPECT_TRUE(checks.CheckBootFile());
  EXPECT_EQ(Last(3), "Checking the Boot file \"" + model.selections.bootPath + "\" is ready?");
  EXPECT_EQ(pages.bootImagePages, 1u);
  EXPECT_EQ(store.Read("Romsetter", "LoadBootCode", ""), "1");
  EXPECT_EQ(store.Read("Romsetter", "Boot_FileName", ""), model.selections.bootPath);
  EXPECT_EQ(store.Read("Romsetter", "Boot0", "") + store.Read("Romsetter", "Boot1", ""), "C:\\b.binNONE0");
}

TEST_F(ImageChecksTest, PackageImagesAreCheckedInPlaceWithinTheirLengths) {
  process.packageMode = PackageMode::Package;
  Bytes image = HeaderImage(false);
  image.resize(3 * kPageSize);  // the trailer's length leaves the zero page out
  images.Replace(ImageSlot::BigFirmware, image);
  checks.SetPackageLengths({2 * kPageSize, 0, 0});
  EXPECT_TRUE(checks.CheckFirmwareFile(1));
  EXPECT_EQ(Logged(), (Lines{"Getting the F/W file size and checksum.",
                             "OK!! the Big(Default) block FileSize=0x0002 BLKs, CheckSum=0x0000"}));
  EXPECT_EQ(images.Slot(ImageSlot::BigFirmware), image);

  for (std::uint32_t length : {0u, 100u, 4u * 512u}) {  // short of the probe, partial page, past the image
    checks.SetPackageLengths({length, 0, length});
    EXPECT_FALSE(checks.CheckFirmwareFile(1)) << length;
    EXPECT_EQ(Box(), "The Size of the FW file is not correct!");
    EXPECT_FALSE(checks.CheckBootFile()) << length;
  }
  const std::size_t boxes = window.messages.size();
  images.Replace(ImageSlot::BootCode, Bytes(2 * kPageSize, 1));  // no verdict in a package
  checks.SetPackageLengths({0, 0, 2 * kPageSize});
  EXPECT_TRUE(checks.CheckBootFile());
  EXPECT_EQ(pages.bootImagePages, 2u);
  EXPECT_EQ(window.messages.size(), boxes);
  EXPECT_FALSE(FileExists(store.path()));
}

}  // namespace
}  // namespace romsetter::test
