#include <tuple>

#include "flash/flash_rig.h"

namespace romsetter::test {
namespace {

// Each family's lines for a failed erase are in the flash-erase-lines transcript; over ASPI the
// backup erase has no notice.
const struct {
  EraseCommand code;
  const char* command;
  const char* notice;
  bool aspiLine;
} kErases[] = {{EraseCommand::Firmware, "UPT_FW_ERASE_MEM", "The F/W of the flash ROM is being erased...", true},
               {EraseCommand::Boot, "UPT_BOOT_ERASE_MEM", "The Boot of the flash ROM is being erased...", true},
               {EraseCommand::Font, "FONT_ERASE_FONT_BLKS", "The font of the flash ROM is being erased...", true},
               {EraseCommand::Backup, "BACKUP_FW_ERASE_MEM", "The Backup FW of the flash ROM is being erased...", false}};

enum Outcome { Good, NotDelivered, BadStatus, TimedOut };

void Fail(FlashRig& rig, const char* command, Outcome outcome) {
  const FaultKind kinds[] = {FaultKind::BadStatus, FaultKind::NotDelivered, FaultKind::BadStatus,
                             FaultKind::NoCompletion};
  if (outcome != Good) rig.AddFault(kinds[outcome], command);
}

using EraseParam = std::tuple<bool, bool, int, Outcome>;  // ASPI, NOR, erase, outcome
class Erase : public ::testing::TestWithParam<EraseParam> {};
INSTANTIATE_TEST_SUITE_P(Flash, Erase,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool(), ::testing::Range(0, 4),
                                            ::testing::Values(Good, NotDelivered, BadStatus, TimedOut)));

TEST_P(Erase, ResultLinesNoticeAndTimerFollowTheTransport) {
  const auto [aspi, nor, index, outcome] = GetParam();
  const auto& c = kErases[index];
  FlashRig rig(aspi, "erase");
  rig.selections.norSelected = nor;
  Fail(rig, c.command, outcome);

  // Over pass-through only a request that was not carried out fails; its status is not consulted.
  const bool expectOk = outcome == Good || (!aspi && outcome == BadStatus);
  EXPECT_EQ(EraseRegion(*rig.context, c.code), expectOk);

  const bool announce = nor && (!aspi || c.aspiLine);
  std::vector<std::string> events;
  if (announce) events.push_back(std::string("notice ") + c.notice);
  if (nor) events.insert(events.end(), {"notice hidden", "repaint"});
  // The caption flashes only on pass-through; its timer never outlives the erase.
  if (nor && !aspi) {
    events.insert(events.begin(), "flashing on");
    events.push_back("flashing off");
  }
  EXPECT_EQ(rig.window.events, events);
  EXPECT_FALSE(rig.window.noticeVisible);
  ASSERT_EQ(rig.device.trace().size(), 1u);
  EXPECT_EQ(rig.device.trace()[0].command, c.command);
}

// A failed status over ASPI leaves the notice up, where a time-out hides it as a success does.
// The lines of each ending are in the flash-format transcript.
TEST(FormatDevice, EndsAsItsTransportSays) {
  // ASPI, outcome, the result.
  const std::tuple<bool, Outcome, bool> cases[] = {{false, Good, true},      {false, NotDelivered, false},
                                                   {false, BadStatus, false}, {true, Good, true},
                                                   {true, BadStatus, false},  {true, TimedOut, false}};
  for (const auto& [aspi, outcome, ok] : cases) {
    SCOPED_TRACE(testing::Message() << "ASPI " << aspi << ", outcome " << outcome);
    FlashRig rig(aspi, "format");
    Fail(rig, "DEV_FORMAT_16", outcome);
    EXPECT_EQ(FormatDevice(*rig.context), ok);
    const bool stays = aspi && outcome == BadStatus;
    EXPECT_EQ(rig.window.noticeVisible, stays);
    EXPECT_EQ(rig.window.events.front(), "notice The NAND flash is being format...");
    EXPECT_EQ(rig.window.events.back() == "repaint", !stays);
    ASSERT_EQ(rig.device.trace().size(), 1u);
    EXPECT_EQ(rig.device.trace()[0].cdbLength, aspi ? 12 : 6);
  }
}

}  // namespace
}  // namespace romsetter::test
