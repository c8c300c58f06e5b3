#include "package/image_checks.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/activity_log.h"
#include "app/ini_profile_store.h"
#include "app/settings_file.h"
#include "base/bytes.h"
#include "support/test_support.h"

namespace romsetter::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

struct ImageChecksTest : ::testing::Test {
  std::string dir = ScratchForCurrentTest("checks");
  RecordingWindow window;
  ActivityLog log{dir + "/Romsetter.log", window};
  ProcessState process;
  MainWindowModel model;
  ImageStore images;
  ImagePageCounts pages;
  IniProfileStore store{dir};
  SettingsFile settings{store, model, process, window, nullptr};
  ImageChecks checks{log, window, settings, process, images, pages};

  std::string Put(const Bytes& bytes, const std::string& name = "img.bin") {
    WriteFile(dir + "/" + name, std::string(bytes.begin(), bytes.end()));
    return dir + "/" + name;
  }
  bool Big(const Bytes& bytes) {
    model.selections.bigFirmwarePath = Put(bytes);
    pages.bigImagePages = 0;  // as the job does before each check
    return checks.CheckFirmwareFile(model.selections, 1);
  }
  bool BigFlipped(Bytes image, std::size_t at, std::uint8_t mask) {
    image[at] ^= mask;
    return Big(image);
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
  EXPECT_EQ(Last(), "OK!! the Big(Default) block FileSize=0x0001 BLKs, CheckSum=0x0000");
  EXPECT_EQ(images.Slot(ImageSlot::BigFirmware), ExamplePage());
  EXPECT_TRUE(window.messages.empty());

  Bytes bad = ExamplePage();
  bad[3] = 0x13;
  model.selections.smallFirmwarePath = Put(bad, "small.bin");
  EXPECT_FALSE(checks.CheckFirmwareFile(model.selections, 2));
  EXPECT_EQ(Last(), "ERROR!! the Small block FileSize=0x0001 BLKs, CheckSum=0x0100");
  EXPECT_EQ(Box(), Last());
  EXPECT_FALSE(window.IsEnabled(Control::Upgrade, true));

  // A partial page fails after the count, without a result line or a load.
  Bytes page = ExamplePage();
  page.push_back(0);
  EXPECT_FALSE(Big(page));
  EXPECT_EQ(Last(), "Getting the F/W file size and checksum.");
  EXPECT_EQ(Box(), "The Size of the FW file is not correct!");
  EXPECT_EQ(pages.bigImagePages, 1u);
  EXPECT_EQ(images.Slot(ImageSlot::BigFirmware), ExamplePage());

  EXPECT_FALSE(Big({}));
  EXPECT_EQ(Last(), "ERROR!! the Big(Default) block FileSize=0x0000 BLKs, CheckSum=0x0000");
  EXPECT_EQ(Box(), Last());
}

TEST_F(ImageChecksTest, HeadersKeepTheirOwnBytesOutOfTheSum) {
  const Bytes nand = HeaderImage(false);
  for (std::size_t at = 10; at < kPageSize; ++at) {
    ASSERT_TRUE(at == 12 || at == 13 || BigFlipped(nand, at, 0x5A)) << at;
  }
  ASSERT_TRUE(BigFlipped(nand, 8, 1));  // 3 pages long by the header: only a warning
  EXPECT_EQ(Last(2), "ERROR!! the F/W Header Total Len:0x00000600, CheckSum=0x0000");
  EXPECT_EQ(Last(), "OK!! the Big(Default) block FileSize=0x0002 BLKs, CheckSum=0x0000");
  EXPECT_FALSE(BigFlipped(nand, 12, 1) || BigFlipped(nand, kPageSize, 1));

  Bytes magicWithNul = ExamplePage();  // NUL where the blank belongs: no header
  std::copy_n("MORVENT", 8, magicWithNul.begin());
  WordXorChecksum sum;
  sum.AddWords(magicWithNul.data(), magicWithNul.size());
  WriteLe16(&magicWithNul[12], sum.value());  // balanced only when every word counts
  EXPECT_TRUE(Big(magicWithNul));

  model.selections.norSelected = true;
  const Bytes nor = HeaderImage(true);
  for (std::size_t at = 18; at < 48; ++at) {
    ASSERT_TRUE(BigFlipped(nor, at, 0xA5)) << at;
    EXPECT_EQ(Last(3).rfind("Checking", 0), 0u);  // no length warning: the header says 1024 bytes
  }
  EXPECT_FALSE(BigFlipped(nor, 48, 1));
}

TEST_F(ImageChecksTest, FilesThatCannotBeCheckedLeaveTheSlotAlone) {
  images.Replace(ImageSlot::BigFirmware, Bytes{7});
  model.selections.bigFirmwarePath = dir + "/missing.bin";
  EXPECT_FALSE(checks.CheckFirmwareFile(model.selections, 1));
  EXPECT_EQ(Logged()[1], "PrintError.ErrorCode=2");
  EXPECT_EQ(Box(), "Please input the Big(Default) block file name first!");

  model.selections.bigFirmwarePath = dir;  // a folder
  EXPECT_FALSE(checks.CheckFirmwareFile(model.selections, 1));
  EXPECT_EQ(Box(), "Can't open the file specified");

  model.selections.bigFirmwarePath = Put({});
  std::filesystem::resize_file(model.selections.bigFirmwarePath, std::uintmax_t{kMaxImagePages + 1} * kPageSize);
  EXPECT_FALSE(checks.CheckFirmwareFile(model.selections, 1));
  EXPECT_EQ(Box(), "The Big(Default) block file is too large: more than 0xFFFF BLKs.");
  EXPECT_EQ(pages.bigImagePages, 0u);
  EXPECT_EQ(images.Slot(ImageSlot::BigFirmware), Bytes{7});
}

TEST_F(ImageChecksTest, BootCheckRecordsTheFileOnlyWhenItPasses) {
  model.selections.loadBootCode = true;
  model.bootHistory.Add("NONE0");
  model.bootHistory.Add("C:\\b.bin");
  Bytes bad = ExamplePage();
  bad[0] = bad[1] = 0;
  model.selections.bootPath = Put(bad);
  EXPECT_FALSE(checks.CheckBootFile(model.selections));
  EXPECT_EQ(Last(), "ERROR!! the Boot File Size=0x0001 BLKs, CheckSum=0x1234");
  EXPECT_FALSE(FileExists(store.path()));

  model.selections.bootPath = Put(ExamplePage());
  EXPECT_TRUE(checks.CheckBootFile(model.selections));
  EXPECT_EQ(pages.bootImagePages, 1u);
  EXPECT_EQ(store.Read("Romsetter", "LoadBootCode", "") + store.Read("Romsetter", "Boot_FileName", ""),
            "1" + model.selections.bootPath);
  EXPECT_EQ(store.Read("Romsetter", "Boot0", "") + store.Read("Romsetter", "Boot1", ""), "C:\\b.binNONE0");
}

TEST_F(ImageChecksTest, PackageImagesAreCheckedInPlaceWithinTheirLengths) {
  process.packageMode = PackageMode::Package;
  Bytes image = HeaderImage(false);
  image.resize(3 * kPageSize);  // the trailer's length leaves the zero page out
  images.Replace(ImageSlot::BigFirmware, image);
  images.Replace(ImageSlot::BootCode, Bytes(2 * kPageSize, 1));  // no checksum verdict for boot code
  process.package.bigLength = process.package.bootLength = 2 * kPageSize;
  EXPECT_TRUE(checks.CheckFirmwareFile(model.selections, 1) && checks.CheckBootFile(model.selections));
  EXPECT_EQ(pages.bigImagePages + pages.bootImagePages, 4u);
  EXPECT_EQ(images.Slot(ImageSlot::BigFirmware), image);
  EXPECT_TRUE(window.messages.empty());
  for (std::uint32_t length : {0u, 100u, 4u * 512u}) {  // short of the probe, partial page, past the image
    process.package.bigLength = process.package.bootLength = length;
    EXPECT_FALSE(checks.CheckFirmwareFile(model.selections, 1) || checks.CheckBootFile(model.selections)) << length;
  }
  EXPECT_EQ(Box(), "The Size of the FW file is not correct!");
  EXPECT_FALSE(FileExists(store.path()));
}

}  // namespace
}  // namespace romsetter::test
