#pragma once
// The images of a run over several devices, loaded and checked once before any device is
// touched and then shared, read only, by every device's job.  Each job logs the lines the
// checks logged where a single run would have made the check, so its log reads as one run's.
#include <string>
#include <vector>

#include "package/image_store.h"

namespace romsetter {

class AppCore;
enum class JobOutcome;

struct CheckedImages {
  ImageStore images;
  ImagePageCounts pages;
  // The lines each check logged, and whether it was made (and passed).
  std::vector<std::string> bootLines, bigLines, smallLines, fontLines;
  bool boot = false, big = false, small = false, font = false;
};

// Makes every check the selections call for, over `core` (whose device is never touched):
// the boot image (NOR with boot code), each firmware image that is named, the font list
// (which writes the font data file) and the font header.  Writes "FW_Version" as the job
// does.  Success, or how the run ends: Refused (a check refused, with its usual lines and
// boxes) or FileFailed (the header could not be written).  In package mode the images are
// the package's, already in `core`, and the jobs check them in memory themselves.
JobOutcome PreloadImages(AppCore& core, CheckedImages& checked);

// Of several devices' outcomes, the one the run reports: device failure, then no device,
// then refused, then a file not written, then success.
JobOutcome WorstOutcome(JobOutcome a, JobOutcome b);

}  // namespace romsetter
