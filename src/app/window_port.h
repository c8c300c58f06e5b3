#pragma once
// Everything the core asks of the main window.  The Win32 dialog implements it, the command
// line implements it on the terminal, and tests use a recording fake.
#include <cstdint>
#include <optional>
#include <string>

#include "base/user_ports.h"

namespace romsetter {

// Controls the core enables, shows or relabels.  The Win32 binding maps them to resource ids.
enum class Control {
  Upgrade,
  ExtractFw,
  PackExe,
  BigButton,
  SmallButton,
  BootButton,
  BigList,
  SmallList,
  BootList,
  LoadBootCode,
  LoadFirmware,
  LoadFont,
  Format,
  Backup,
  FontListButton,
  ReportButton,
  FontListEdit,
  ReportEdit,
  EraseNotice,
};

// The main window: the user ports of the layers below, and what only the application asks.
class WindowPort : public MessagePort, public ProgressObserver {
 public:
  // Status list: append an item and select it; remove the oldest (the activity log keeps the
  // count, as it is the only one that adds items).
  virtual void StatusAppend(const std::string& line) = 0;
  virtual void StatusRemoveFirst() = 0;

  virtual void SetWaitCursor() = 0;
  virtual void EnableControl(Control control, bool enabled) = 0;
  virtual void ShowControl(Control control, bool visible) = 0;
  virtual void SetVersionLine(const std::string& text) = 0;

  // Finds a top-level window whose title is exactly `title` (bytes in the ANSI code page)
  // and sends it a close message.  True when one was found.
  virtual bool CloseWindowByTitle(const std::string& title) = 0;
};

}  // namespace romsetter
