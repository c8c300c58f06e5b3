// What a dry run plans, and its refusals, are in the job-dry-runs transcript; here, that it
// sends no command that changes the device.
#include "app/dry_run.h"

#include <gtest/gtest.h>

#include "app/app_core.h"
#include "support/job_rig.h"

namespace romsetter::test {
namespace {

class DryRun : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Job, DryRun, ::testing::Values(false, true), TransportName);

TEST_P(DryRun, AsksTheDeviceButSendsNoCommandThatChangesIt) {
  JobRig rig(GetParam());
  rig.WithFirmware(8);
  rig.WithFonts();
  rig.sel().formatChecked = rig.sel().backupChecked = true;
  ASSERT_EQ(rig.Run(JobMode::DryRun), JobOutcome::Success);
  EXPECT_GT(rig.device.trace().size(), 0u);
  for (const TraceEntry& e : rig.device.trace()) {
    for (const char* word : {"WRITE", "ERASE", "FORMAT", "MARK", "RESTART", "END_OF"}) {
      EXPECT_EQ(e.command.find(word), std::string::npos) << e.command;
    }
  }
  EXPECT_EQ(rig.core->plan().size(), 4u);
}

}  // namespace
}  // namespace romsetter::test
