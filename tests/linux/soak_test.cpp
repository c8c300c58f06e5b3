// A thousand upgrades in one process, as a long session of the program runs them: memory and
// open files stay flat.  Measured from /proc, judged on the trend after a warm-up.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "support/job_rig.h"

namespace romsetter::test {
namespace {

std::size_t ResidentBytes() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  unsigned long size = 0, resident = 0;
  const bool ok = f != nullptr && std::fscanf(f, "%lu %lu", &size, &resident) == 2;
  if (f != nullptr) std::fclose(f);
  return ok ? resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

int OpenFiles() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int n = 0;
  while (readdir(dir) != nullptr) ++n;
  closedir(dir);
  return n;
}

TEST(Soak, AThousandUpgradesKeepMemoryAndOpenFilesFlat) {
  EmulatedDeviceConfig config = Device();
  config.traceData = false;
  JobRig passThrough(false, config, "soak_pt"), aspi(true, config, "soak_aspi");
  for (JobRig* rig : {&passThrough, &aspi}) {
    rig->WithFirmware(4);
    rig->WithFonts();
    rig->sel().backupChecked = true;
  }
  constexpr int kRuns = 1000, kWarmUp = 200, kStep = 100;
  std::vector<std::size_t> resident;
  std::vector<int> files;
  for (int run = 1; run <= kRuns; ++run) {
    JobRig& rig = run % 2 ? passThrough : aspi;
    rig.device.Attach();  // the restart took it off the bus
    ASSERT_EQ(rig.Run(), JobOutcome::Success) << "run " << run;
    // What the test's doubles record would grow; the program keeps none of it.
    rig.device.ClearTrace();
    rig.drive.requests().clear();
    rig.library.sent().clear();
    rig.window = RecordingWindow();
    rig.clock.sleeps.clear();
    if (run >= kWarmUp && run % kStep == 0) {
      resident.push_back(ResidentBytes());
      files.push_back(OpenFiles());
    }
  }
  for (int n : files) EXPECT_EQ(n, files.front()) << "open files after the warm-up";
#if !defined(__SANITIZE_ADDRESS__)
  // The address sanitizer's quarantine keeps freed memory for a while; only plain builds judge it.
  // Over 800 runs a leak of even 256 bytes a run would show; allocator noise stays far below.
  ASSERT_FALSE(resident.empty());
  EXPECT_LT(resident.back(), resident.front() + 200 * 1024)
      << "resident memory grew from " << resident.front() << " to " << resident.back() << " bytes";
#endif
}

}  // namespace
}  // namespace romsetter::test
