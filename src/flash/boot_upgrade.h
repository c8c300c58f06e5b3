#pragma once
// The ASPI boot upgrade: the boot file is read from disk a page at a time while it is
// written, and a page that reads back wrong can be dumped for diagnosis.
#include "flash/page_engine.h"

namespace romsetter {

class BootUpgrader {
 public:
  explicit BootUpgrader(FlashContext& context) : ctx_(context) {}

  // Erases the boot region, writes the boot file chosen in the main window and verifies
  // every page.  Sends no restart.  True when every page verified.
  bool UpgradeBootFromFile();

  const PageCursor& cursor() const { return cursor_; }

 private:
  void DumpPages();

  FlashContext& ctx_;
  PageCursor cursor_;
  PageBuffer page_{};
  PageBuffer readBack_{};
};

}  // namespace romsetter
