#include "app/dry_run.h"

#include <gtest/gtest.h>

#include <functional>

#include "app/app_core.h"
#include "support/job_rig.h"

namespace romsetter::test {
namespace {

// Every command that changes the device: a dry run must send none of them.
bool Writes(const std::string& command) {
  for (const char* word : {"WRITE", "ERASE", "FORMAT", "MARK", "RESTART", "END_OF"}) {
    if (command.find(word) != std::string::npos) return true;
  }
  return false;
}

std::vector<std::string> WritingCommands(const JobRig& rig) {
  std::vector<std::string> out;
  for (const TraceEntry& e : rig.device.trace()) {
    if (Writes(e.command)) out.push_back(e.command);
  }
  return out;
}

class DryRun : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Job, DryRun, ::testing::Values(false, true), TransportName);

TEST_P(DryRun, PlansEveryStepWithReadOnlyCommandsAndLeavesTheDeviceAsItWas) {
  JobRig rig(GetParam());
  rig.WithFirmware(8);
  rig.WithFonts();
  rig.sel().formatChecked = true;
  rig.sel().backupChecked = true;
  ASSERT_EQ(rig.Run(JobMode::DryRun), JobOutcome::Success);
  EXPECT_EQ(WritingCommands(rig), std::vector<std::string>{});
  EXPECT_GT(rig.device.trace().size(), 0u);  // it did ask the device
  EXPECT_TRUE(rig.window.messages.empty());  // no "Successful" box: nothing was done
  const std::vector<PlanEntry>& plan = rig.core->plan();
  ASSERT_EQ(plan.size(), 4u);
  EXPECT_EQ(plan[0].step, "Format");
  EXPECT_EQ(plan[1].step, "F/W");
  EXPECT_EQ(plan[1].pages, 8u);
  EXPECT_EQ(plan[1].starts, std::vector<std::uint32_t>{rig.device.config().firmware.addr1});
  EXPECT_EQ(plan[2].copies, (std::vector<std::string>{"Backup_1", "Backup_2"}));
  EXPECT_EQ(plan[3].step, "Font");
  EXPECT_EQ(plan[3].pages, 3u);  // 1500 bytes
  EXPECT_EQ(PlanLine(plan[1]).rfind("F/W: 0x0008 pages to F/W at 0x00001000 (region 0x", 0), 0u) << PlanLine(plan[1]);
  for (const PlanEntry& e : plan) EXPECT_GE(e.seconds, 0);
  // The device takes the real run afterwards as if the dry run had never been.
  EXPECT_EQ(rig.Run(), JobOutcome::Success);
}

// Where the real run would be refused before its first write, the dry run ends as it would,
// with the same lines, and still writes nothing.
TEST_P(DryRun, EndsAsTheRealRunWouldWhenThatIsRefusedBeforeItsFirstWrite) {
  const struct {
    const char* name;
    std::function<void(EmulatedDeviceConfig&)> device;
    std::function<void(JobRig&)> choose;
    const char* line;
  } cases[] = {
      {"firmware larger than its region", [](EmulatedDeviceConfig& d) { d.firmware.size = 4; },
       [](JobRig& r) { r.WithFirmware(8); }, "F/W file Size is larger then device memory."},
      {"font larger than its region", [](EmulatedDeviceConfig& d) { d.font.size = 2; },
       [](JobRig& r) { r.WithFonts(); }, "Font file Size is larger then device memory."},
      {"device unplugged", [](EmulatedDeviceConfig& d) { d.attached = false; },
       [](JobRig& r) { r.WithFirmware(8); }, nullptr},
      {"boot code without a boot region", [](EmulatedDeviceConfig& d) { d = Device(true), d.boot.size = 0; },
       [](JobRig& r) { r.WithBoot(); r.WithFirmware(8); }, "User can't upgrade the boot code."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatedDeviceConfig config = Device();
    c.device(config);
    JobRig real(GetParam(), config), dry(GetParam(), config);
    c.choose(real);
    c.choose(dry);
    const JobOutcome expected = real.Run();
    ASSERT_TRUE(WritingCommands(real).empty()) << "the case must be refused before a write";
    EXPECT_EQ(dry.Run(JobMode::DryRun), expected);
    EXPECT_NE(expected, JobOutcome::Success);
    EXPECT_EQ(WritingCommands(dry), std::vector<std::string>{});
    EXPECT_TRUE(dry.core->plan().empty() || expected == JobOutcome::DeviceFailure);
    if (c.line != nullptr) {
      const Lines log = dry.Log();
      EXPECT_NE(std::find(log.begin(), log.end(), c.line), log.end());
    }
  }
}

}  // namespace
}  // namespace romsetter::test
