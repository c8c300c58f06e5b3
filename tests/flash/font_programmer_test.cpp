#include "flash/font_programmer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "device/aspi_transport.h"
#include "emulator/emulated_transport.h"
#include "support/test_support.h"

namespace romsetter {
namespace {

constexpr std::uint16_t kRegion = 16;  // M
constexpr std::uint32_t kFont1 = 0x4000;
constexpr std::uint32_t kFont2 = 0x5000;
constexpr std::uint32_t kFlag1 = kFont1 + kRegion - 1;
constexpr std::uint32_t kPages = 6;  // N

EmulatorFault Fault(FaultKind kind, const std::string& command, std::uint32_t page = 0, std::uint32_t occurrence = 0) {
  EmulatorFault f;
  f.kind = kind;
  f.command = command;
  f.anyPage = page == 0;
  f.page = page;
  f.occurrence = occurrence;
  f.byteIndex = 3;
  return f;
}

// Counts up on every call, so an elapsed line shows that both ends were read.
struct SteppingClock : test::FakeClock {
  std::uint32_t NowSeconds() override { return now++; }
};

struct FontRig {
  explicit FontRig(bool aspi) : useAspi(aspi) {
    if (useAspi) {
      aspiTransport->BeginJob();
      aspiTransport->CreateEvent();
    }
    selections.fontListPath = "D:\\lists\\big5.tab";
    link->memoryMap.fontSize = kRegion;
    link->memoryMap.fontAddr1 = kFont1;
    link->memoryMap.fontAddr2 = kFont2;
    SetFont(kPages);
    // What the flag page holds before: its first 508 bytes must survive the stamp.
    for (std::size_t i = 0; i < 508; ++i) flag[i] = static_cast<std::uint8_t>(0x80 | (i % 61));
    device.WriteFlash(kFlag1, flag);
    device.WriteFlash(kFont2 + kRegion - 1, flag);
  }

  void SetFont(std::uint32_t pages) {
    std::vector<std::uint8_t> data(std::size_t{pages} * kPageSize);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i / kPageSize * 31 + i % 7);
    images.Replace(ImageSlot::FontData, data);
    link->imagePages.fontImagePages = pages;
  }
  std::vector<std::string> Lines() const {
    return test::StripNumbers(std::vector<std::string>(window.allStatus.begin(), window.allStatus.end()));
  }
  bool Logged(const std::string& line) const {
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  std::vector<TraceEntry> WritesFrom(std::uint32_t base) const {
    std::vector<TraceEntry> out;
    for (const TraceEntry& e : device.TraceOf("FONT_WRITE_PAGE")) {
      if (e.pageAddress >= base && e.pageAddress < base + kRegion) out.push_back(e);
    }
    return out;
  }
  // Pages 0..N-1 at base..base+N-1 with page numbers 1..N, then the flag at base + M - 1.
  void ExpectFontAt(std::uint32_t base) const {
    const auto writes = WritesFrom(base);
    ASSERT_EQ(writes.size(), kPages + 1);
    const auto& data = images.Slot(ImageSlot::FontData);
    for (std::uint32_t k = 0; k < kPages; ++k) {
      EXPECT_EQ(writes[k].pageAddress, base + k);
      EXPECT_EQ(writes[k].pageNumber, k + 1);
      EXPECT_TRUE(std::equal(writes[k].data.begin(), writes[k].data.end(), data.begin() + k * kPageSize));
    }
    EXPECT_EQ(writes[kPages].pageAddress, base + kRegion - 1);
    EXPECT_EQ(writes[kPages].pageNumber, kRegion);
  }

  bool useAspi;
  EmulatedDevice device{[] {
    EmulatedDeviceConfig c;
    c.font = {kRegion, kFont1, kFont2};
    return c;
  }()};
  EmulatedDevice::Page flag = [] {
    EmulatedDevice::Page p;
    p.fill(0xFF);
    return p;
  }();
  std::string dir = test::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  test::RecordingWindow window;
  ActivityLog log{dir + "/Romsetter.log", window};
  Selections selections;
  SteppingClock clock;
  ProcessState process;
  FixedPaths paths = FixedPaths::UnderFolder(dir);
  ImageStore images;
  std::unique_ptr<EmulatedTransport> drive = useAspi ? nullptr : std::make_unique<EmulatedTransport>(device);
  std::unique_ptr<EmulatedAspiLibrary> library =
      useAspi ? std::make_unique<EmulatedAspiLibrary>(std::vector<EmulatedDevice*>{&device}) : nullptr;
  std::unique_ptr<AspiTransport> aspiTransport = useAspi ? std::make_unique<AspiTransport>(*library, 5) : nullptr;
  std::unique_ptr<DeviceLink> link = useAspi ? std::make_unique<DeviceLink>(*aspiTransport, log, window, selections)
                                             : std::make_unique<DeviceLink>(*drive, log, window, selections);
  FlashContext context{*link, images, clock, process, paths};
  FontProgrammer programmer{context};
};

TEST(FontProgrammer, WritesEveryPageAtFont1ThenTheFlag) {
  FontRig rig(false);
  rig.programmer.PrepareStart(true);
  ASSERT_TRUE(rig.programmer.ProgramFont());
  rig.ExpectFontAt(kFont1);
  EXPECT_TRUE(rig.WritesFrom(kFont2).empty());

  auto expectedFlag = rig.flag;
  std::copy_n("AAZZ", 4, expectedFlag.end() - 4);
  EXPECT_EQ(rig.device.ReadFlash(kFlag1), expectedFlag);
  const auto reads = rig.device.TraceOf("FONT_READ_PAGE");
  ASSERT_EQ(reads.size(), kPages + 2);  // every page, then the flag before and after its stamp
  EXPECT_EQ(reads[kPages].pageAddress, kFlag1);
  EXPECT_EQ(reads[kPages].pageNumber, kRegion);
  EXPECT_EQ(rig.device.trace().back().command, "FONT_END_OF_UPDATE");
  EXPECT_TRUE(rig.device.TraceOf("FONT_ERASE_FONT_BLKS").empty());  // the job erases on this transport
  EXPECT_EQ(rig.Lines(), (std::vector<std::string>{"Font_1 Upgrading, Please Wait...", "Make flag \"AAZZ\"",
                                                   "Compare flag page OK",
                                                   "Loaded elapsed 1 seconds for FontList:D:\\lists\\big5.tab",
                                                   "Written total of the Font Page size = 0x0006"}));
  EXPECT_EQ(rig.window.progress, (std::vector<int>{16, 33, 50, 66, 83, 100}));
  EXPECT_EQ(rig.programmer.location(), FontLocation::Font1);

  // A package's font data comes from the job's own copy and names no list.
  FontRig package(false);
  package.process.packageMode = PackageMode::Package;
  const std::vector<std::uint8_t> copy = package.images.Slot(ImageSlot::FontData);
  package.images.Release(ImageSlot::FontData);
  ASSERT_TRUE(package.programmer.ProgramFont(copy));
  EXPECT_TRUE(package.Logged("Loaded elapsed 1 seconds for FontData:"));
}

TEST(FontProgrammer, DifferenceOnPage5MovesTheWholeFontToFont2) {
  for (bool aspi : {false, true}) {
    SCOPED_TRACE(aspi ? "ASPI" : "pass-through");
    FontRig rig(aspi);
    rig.device.AddFault(Fault(FaultKind::CorruptOnce, "FONT_READ_PAGE", kFont1 + 5));
    rig.programmer.PrepareStart(true);
    ASSERT_TRUE(rig.programmer.ProgramFont());
    EXPECT_EQ(rig.WritesFrom(kFont1).size(), 6u);  // pages 0-5, no flag
    rig.ExpectFontAt(kFont2);
    EXPECT_EQ(rig.programmer.location(), FontLocation::Font2);
    EXPECT_EQ(rig.programmer.currentFontStart(), kFont2);

    const auto lines = rig.Lines();
    const auto diff = std::find_if(lines.begin(), lines.end(),
                                   [](const std::string& l) { return l.rfind("Error occurs at [3]", 0) == 0; });
    ASSERT_GE(lines.end() - diff, 3);
    EXPECT_EQ(diff[1], "Font_1 WritePage FAILURE!!");
    EXPECT_EQ(diff[2], "Font_2 Upgrading, Please Wait...");
    EXPECT_EQ(rig.device.TraceOf("FONT_ERASE_FONT_BLKS").size(), aspi ? 1u : 0u);  // Font_2 not erased again
  }
}

TEST(FontProgrammer, FailedEraseOverPassThroughStartsAtFont2) {
  FontRig rig(false);
  rig.programmer.PrepareStart(false);
  ASSERT_TRUE(rig.programmer.ProgramFont());
  rig.ExpectFontAt(kFont2);
  EXPECT_TRUE(rig.WritesFrom(kFont1).empty());
  const auto lines = rig.Lines();
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 2),
            (std::vector<std::string>{"Font page erased Failure!!", "Font_2 Upgrading, Please Wait..."}));
  EXPECT_FALSE(rig.Logged("Font_1 WritePage FAILURE!!"));
  EXPECT_EQ(rig.programmer.location(), FontLocation::Font2);
}

TEST(FontProgrammer, FlagFailureOverPassThroughStillEndsTheUpdate) {
  FontRig rig(false);
  rig.device.AddFault(Fault(FaultKind::WriteIgnored, "FONT_WRITE_PAGE", kFlag1));
  rig.programmer.PrepareStart(true);
  EXPECT_FALSE(rig.programmer.ProgramFont());
  const auto lines = rig.Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
            (std::vector<std::string>{"Error occurs at [508]: Src = 0xFF, Err = 0x41", "Compare flag page error",
                                      "Loaded elapsed 1 seconds for FontList:D:\\lists\\big5.tab",
                                      "Written total of the Font Page size = 0x0006"}));
  EXPECT_EQ(rig.device.trace().back().command, "FONT_END_OF_UPDATE");
  EXPECT_TRUE(rig.WritesFrom(kFont2).empty());  // no fall-back after a flag failure
}

TEST(FontProgrammer, PassThroughFallsBackOnceAtMost) {
  // FONT_END_OF_UPDATE failing at Font_1 sends the font to Font_2.
  FontRig end(false);
  end.device.AddFault(Fault(FaultKind::NotDelivered, "FONT_END_OF_UPDATE", 0, 1));
  end.programmer.PrepareStart(true);
  EXPECT_TRUE(end.programmer.ProgramFont());
  EXPECT_TRUE(end.Logged("FONT_END_OF_UPDATE FAIL!!"));
  end.ExpectFontAt(kFont2);

  // Equal locations are still tried twice at most; a difference at Font_2 has its own line.
  FontRig same(false);
  same.link->memoryMap.fontAddr2 = kFont1;
  same.device.AddFault(Fault(FaultKind::BadPage, "FONT_READ_PAGE", kFont1 + 1));
  same.programmer.PrepareStart(true);
  EXPECT_FALSE(same.programmer.ProgramFont());
  const auto lines = same.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Font_1 Upgrading, Please Wait..."), 2);
  EXPECT_EQ(lines.back(), "Font_2 WritePage FAILURE!!");
}

TEST(FontProgrammer, AspiErasesItselfAndStopsAtOnce) {
  FontRig good(true);
  ASSERT_TRUE(good.programmer.ProgramFont());
  EXPECT_EQ(good.device.trace().front().command, "FONT_ERASE_FONT_BLKS");
  EXPECT_TRUE(good.device.TraceOf("FONT_END_OF_UPDATE").empty());  // the job sends it
  good.ExpectFontAt(kFont1);

  const std::pair<EmulatorFault, const char*> cases[] = {
      {Fault(FaultKind::BadStatus, "FONT_ERASE_FONT_BLKS"), "FONT_ERASE_FONT_BLKS Failed!!"},
      {Fault(FaultKind::BadStatus, "FONT_WRITE_PAGE", 0, 3), "Written Font Page Failed!!"},
      {Fault(FaultKind::NoCompletion, "FONT_READ_PAGE", 0, 2), "Read Font Page Failed!!"},
      {Fault(FaultKind::WriteIgnored, "FONT_WRITE_PAGE", kFlag1), "Compare flag page error"},
      {Fault(FaultKind::BadStatus, "FONT_READ_PAGE", kFlag1, 1), "Read flag Page Error"},
  };
  for (const auto& [fault, line] : cases) {
    SCOPED_TRACE(line);
    FontRig rig(true);
    rig.device.AddFault(fault);
    EXPECT_FALSE(rig.programmer.ProgramFont());
    EXPECT_EQ(rig.Lines().back(), line);
    EXPECT_TRUE(rig.WritesFrom(kFont2).empty());
    EXPECT_TRUE(rig.device.TraceOf("FONT_END_OF_UPDATE").empty());
  }
}

TEST(FontProgrammer, UnusableFontDataIsRefusedBeforeAnyCommand) {
  const std::pair<void (*)(FontRig&), const char*> cases[] = {
      {[](FontRig& r) { r.SetFont(kRegion); }, "Font file Size is larger then device memory."},
      {[](FontRig& r) { r.link->memoryMap.fontSize = 0; }, "The device reports no font region (FontSize=0x0000)."},
      {[](FontRig& r) { r.link->imagePages.fontImagePages = kPages + 1; },
       "Font data holds 3072 bytes, less than its 7 pages."},
  };
  for (bool aspi : {false, true}) {
    for (const auto& [setUp, line] : cases) {
      SCOPED_TRACE(line);
      FontRig rig(aspi);
      setUp(rig);
      rig.programmer.PrepareStart(true);
      EXPECT_FALSE(rig.programmer.ProgramFont());
      EXPECT_EQ(rig.Lines(), std::vector<std::string>{line});
      EXPECT_TRUE(rig.device.trace().empty());
    }
  }
}

}  // namespace
}  // namespace romsetter
