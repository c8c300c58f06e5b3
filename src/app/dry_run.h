#pragma once
// The plan a dry run (JobMode::DryRun) finds: what the real run would write, where, and about
// how long it would take, learnt with read-only commands only.
#include <cstdint>
#include <string>
#include <vector>

namespace romsetter {

struct PlanEntry {
  std::string step;                    // "Format", "BootCode", "F/W", "Backup", "Font"
  std::vector<std::string> copies;     // the copies written, e.g. "Backup_1"; empty for the format
  std::vector<std::uint32_t> starts;   // first page of each copy
  std::uint32_t pages = 0;             // pages of each copy
  std::uint32_t regionPages = 0;       // pages of the device's region that takes it
  double seconds = 0;                  // estimate from the device's measured answer time
};

// "F/W: 0x0400 pages to F/W at 0x00001000 (region 0x0400 pages), about 0.400 s"
std::string PlanLine(const PlanEntry& entry);

// Commands one copy of `pages` pages costs: a write and a read-back per page, and its erase.
std::uint64_t CommandsOfCopy(std::uint32_t pages);

}  // namespace romsetter
