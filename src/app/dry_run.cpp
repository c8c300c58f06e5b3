#include "app/dry_run.h"

#include <chrono>

#include "app/upgrade_job.h"
#include "base/format.h"
#include "flash/flash_programmer.h"
#include "flash/font_programmer.h"

namespace romsetter {

std::uint64_t CommandsOfCopy(std::uint32_t pages) { return 2ull * pages + 1; }

std::string PlanLine(const PlanEntry& e) {
  if (e.copies.empty()) return Format("%s: the whole flash, about %.3f s", e.step.c_str(), e.seconds);
  std::string copies;
  for (std::size_t i = 0; i < e.copies.size(); ++i) {
    copies += Format("%s%s at 0x%08X", i == 0 ? "" : ", ", e.copies[i].c_str(), static_cast<unsigned>(e.starts[i]));
  }
  return Format("%s: 0x%04X pages to %s (region 0x%04X pages), about %.3f s", e.step.c_str(),
                static_cast<unsigned>(e.pages), copies.c_str(), static_cast<unsigned>(e.regionPages), e.seconds);
}

// Everything the step would check before its first write, with read-only commands: its region
// query and the image and address checks; the plan gets the step when they pass.
StepResult UpgradeJob::DryRunStep(JobFamily& family, FlashContext& ctx, JobStep step) {
  const bool nor = sel().norSelected;
  const auto query = [&](RegionQuery region) {
    const auto started = std::chrono::steady_clock::now();
    const bool ok = s_.memory.GetMemInfo(region, s_.imagePages, nor);
    answerSeconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ++answers_;
    return ok;
  };
  const MemoryMap& map = s_.memory.map();
  PlanEntry e;
  const auto copies = [&](const char* label, std::initializer_list<std::pair<const char*, std::uint32_t>> list) {
    for (const auto& [name, start] : list) {
      if (!PageCountUsable(log(), label, e.pages) || !PageAddressesFit(log(), label, start, e.pages)) return false;
      e.copies.push_back(name);
      e.starts.push_back(start);
    }
    return true;
  };
  bool ok = true;
  switch (step) {
    case JobStep::Format:
      e.step = "Format";
      break;
    case JobStep::Boot:
      e.step = "BootCode";
      e.pages = s_.imagePages.bootImagePages;
      ok = query(RegionQuery::Boot) && map.bootSize != 0 &&
           copies("BootCode", {{"BootCode", map.bootAddr1}});
      e.regionPages = map.bootSize;
      break;
    case JobStep::Firmware:
      e.step = "F/W";
      ok = query(RegionQuery::Firmware);
      e.pages = s_.imagePages.FirmwarePages(map.SmallBlock());
      e.regionPages = map.FirmwareSize();
      ok = ok && copies("F/W", {{"F/W", map.FirmwareAddr1()}});
      break;
    case JobStep::Backup:
      e.step = "Backup";
      ok = query(RegionQuery::Backup);
      e.pages = s_.imagePages.FirmwarePages(map.SmallBlock());
      e.regionPages = map.FirmwareSize();
      ok = ok && copies("Backup", {{"Backup_1", map.backupAddr1}, {"Backup_2", map.backupAddr2}});
      break;
    case JobStep::Font: {
      e.step = "Font";
      ok = query(RegionQuery::Font) &&
           FontProgrammer(ctx).FontImageFits(s_.process.InPackageMode() ? packageFont_
                                                                        : s_.images.Slot(ImageSlot::FontData));
      e.pages = s_.imagePages.fontImagePages;
      e.regionPages = map.fontSize;
      ok = ok && copies("Font", {{"Font_1", map.fontAddr1}});
      break;
    }
    default:
      return RunStep(family, ctx, step);  // opening and preparing send read-only commands
  }
  if (!ok) return StepResult::Failed;
  plan_.push_back(e);
  return StepResult::Done;
}

void UpgradeJob::EstimateDryRun() {
  // The region queries are single commands: their mean is the device's answer time.
  const double perCommand = answers_ > 0 ? answerSeconds_ / answers_ : 0;
  for (PlanEntry& e : plan_) {
    const std::uint64_t commands = e.copies.empty() ? 1 : CommandsOfCopy(e.pages) * e.copies.size();
    e.seconds = perCommand * static_cast<double>(commands);
    log().Log(Format("Plan: %s", PlanLine(e).c_str()));
  }
}

}  // namespace romsetter
