#include "flash/flash_rig.h"

namespace romsetter::test {
namespace {

struct EraseCase {
  int code;
  const char* command;
  const char* notice;
  const char* passThroughLine;
  const char* aspiLine;  // empty: none
};

const EraseCase kErases[] = {
    {2, "UPT_FW_ERASE_MEM", "The F/W of the flash ROM is being erased...", "UPT_FW_ERASE_MEM error!",
     "<FAIL> UPT_FW_ERASE_MEM"},
    {7, "UPT_BOOT_ERASE_MEM", "The Boot of the flash ROM is being erased...", "UPT_BOOT_ERASE_MEM error!",
     "<FAIL> UPT_BOOT_ERASE_MEM"},
    {10, "FONT_ERASE_FONT_BLKS", "The font of the flash ROM is being erased...", "FONT_ERASE_FONT_BLKS error!",
     "<FAIL> FONT_ERASE_FONT_BLKS"},
    {33, "BACKUP_FW_ERASE_MEM", "The Backup FW of the flash ROM is being erased...", "BACKUP_FW_ERASE_MEM error!",
     ""},
};

enum class Outcome { Good, NotDelivered, BadStatus, TimedOut };

using EraseParam = std::tuple<bool, int, Outcome>;
class Erase : public ::testing::TestWithParam<EraseParam> {};

void Fail(FlashRig& rig, const char* command, Outcome outcome) {
  if (outcome == Outcome::Good) return;
  EmulatorFault f;
  f.kind = outcome == Outcome::NotDelivered ? FaultKind::NotDelivered
           : outcome == Outcome::BadStatus  ? FaultKind::BadStatus
                                            : FaultKind::NoCompletion;
  f.command = command;
  rig.device.AddFault(f);
}

// NAND: no notice and no line unless it failed, and what failed depends on the transport.
TEST_P(Erase, NandFailureLinesFollowTheTransportsSuccessRule) {
  const auto [aspi, index, outcome] = GetParam();
  const EraseCase& c = kErases[index];
  FlashRig rig(aspi, "erase");
  Fail(rig, c.command, outcome);

  const bool ok = rig.link->EraseRegion(c.code);

  // Over pass-through only a request that was not carried out fails; its status is not consulted.
  const bool expectOk = outcome == Outcome::Good || (!aspi && outcome == Outcome::BadStatus);
  EXPECT_EQ(ok, expectOk);
  std::vector<std::string> expected;
  if (!aspi && !expectOk) expected.push_back(c.passThroughLine);
  if (aspi && outcome == Outcome::NotDelivered && *c.aspiLine) expected.push_back(c.aspiLine);  // refused at once
  if (aspi && outcome == Outcome::BadStatus && *c.aspiLine) expected.push_back(c.aspiLine);
  EXPECT_EQ(rig.Lines(), expected);
  EXPECT_TRUE(rig.window.events.empty());
  ASSERT_EQ(rig.device.trace().size(), 1u);
  EXPECT_EQ(rig.device.trace()[0].command, c.command);
}

INSTANTIATE_TEST_SUITE_P(Flash, Erase,
                         ::testing::Combine(::testing::Values(false, true), ::testing::Range(0, 4),
                                            ::testing::Values(Outcome::Good, Outcome::NotDelivered,
                                                              Outcome::BadStatus, Outcome::TimedOut)));

class EraseBoth : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Flash, EraseBoth, ::testing::Values(false, true), TransportName);

TEST_P(EraseBoth, NorEraseAnnouncesItselfAndLeavesTheNoticeHidden) {
  const bool aspi = GetParam();
  for (Outcome outcome : {Outcome::Good, Outcome::NotDelivered}) {
    FlashRig rig(aspi, "erase_nor");
    rig.selections.norSelected = true;
    Fail(rig, "UPT_FW_ERASE_MEM", outcome);
    rig.link->EraseRegion(2);
    const std::string notice = "notice The F/W of the flash ROM is being erased...";
    // The caption flashes only on pass-through; its timer never outlives the erase.
    const std::vector<std::string> expected =
        aspi ? std::vector<std::string>{notice, "notice hidden", "repaint"}
             : std::vector<std::string>{"timer start 115 500", notice, "notice hidden", "repaint", "timer stop 115"};
    EXPECT_EQ(rig.window.events, expected);
    EXPECT_FALSE(rig.window.noticeVisible);
    EXPECT_EQ(rig.Lines().front(), "The F/W of the flash ROM is being erased...");
  }
}

TEST(EraseRegion, AspiBackupEraseHasNoNoticeAndUnknownCodesSendNothing) {
  FlashRig aspi(true, "erase_misc");
  aspi.selections.norSelected = true;
  EXPECT_TRUE(aspi.link->EraseRegion(33));
  EXPECT_TRUE(aspi.Lines().empty());
  EXPECT_EQ(aspi.window.events, (std::vector<std::string>{"notice hidden", "repaint"}));
  EXPECT_FALSE(aspi.link->EraseRegion(3));
  EXPECT_TRUE(aspi.Lines().empty());

  FlashRig passThrough(false, "erase_misc");
  EXPECT_FALSE(passThrough.link->EraseRegion(8));
  EXPECT_EQ(passThrough.Lines(), (std::vector<std::string>{"UnKnow ERASE command error!"}));
  EXPECT_TRUE(passThrough.device.trace().empty());
}

constexpr const char* kSystemText = "(the system's text)";

struct FormatCase {
  bool aspi;
  Outcome outcome;
  bool result;
  std::vector<std::string> lines;  // after the notice line
  bool noticeStays;
};

class Format16 : public ::testing::TestWithParam<FormatCase> {};
INSTANTIATE_TEST_SUITE_P(
    Flash, Format16,
    ::testing::Values(FormatCase{false, Outcome::Good, true, {}, false},
                      FormatCase{false, Outcome::NotDelivered, false,
                                 {"PrintError.ErrorCode=31", kSystemText, "DEV_FORMAT_16 Failed!!"}, false},
                      FormatCase{false, Outcome::BadStatus, false, {"DEV_FORMAT_16 Failed!!"}, false},
                      FormatCase{true, Outcome::Good, true, {}, false},
                      FormatCase{true, Outcome::BadStatus, false, {"<FAIL> DEV_FORMAT"}, true},
                      FormatCase{true, Outcome::TimedOut, false, {"DEV_FORMAT_16 Failed!!"}, false}));

TEST_P(Format16, IsAlwaysAnnouncedAndEndsAsItsTransportSays) {
  const FormatCase& c = GetParam();
  FlashRig rig(c.aspi, "format");
  Fail(rig, "DEV_FORMAT_16", c.outcome);

  EXPECT_EQ(rig.link->FormatDevice(), c.result);

  std::vector<std::string> expected{"The NAND flash is being format..."};
  for (std::string line : c.lines) {
    if (line == kSystemText) CRuntimeErrorText(EmulatedTransport::kFailureError, line);
    expected.push_back(line);
  }
  EXPECT_EQ(rig.Lines(), expected);
  EXPECT_EQ(rig.window.noticeVisible, c.noticeStays);
  EXPECT_EQ(rig.window.events.front(), "notice The NAND flash is being format...");
  if (!c.noticeStays) {
    EXPECT_EQ(rig.window.events.back(), "repaint");
  }
  ASSERT_EQ(rig.device.trace().size(), 1u);
  EXPECT_EQ(rig.device.trace()[0].cdbLength, c.aspi ? 12 : 6);
}

}  // namespace
}  // namespace romsetter::test
