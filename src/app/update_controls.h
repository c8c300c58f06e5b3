#pragma once
// Which of the main window's command buttons may be pressed.
#include "base/selections.h"
#include "app/window_port.h"

namespace romsetter {

// A file name is usable when it is not empty and holds no "NONE" anywhere (letter case counts).
bool UsableFileName(const std::string& name);

void UpdateControls(const Selections& selections, bool devicePresent, bool packageMode, WindowPort& window);

}  // namespace romsetter
