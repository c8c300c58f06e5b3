#pragma once
// Closing the system's warnings about removed hardware after the device restarted itself.
#include <array>
#include <string>

#include "app/window_port.h"
#include "base/clock.h"

namespace romsetter {

// The six window titles, as bytes in the ANSI code pages they appear in (Big5 and GBK),
// in the order they are looked for.
const std::array<std::string, 6>& RemovalWarningTitles();

// On every application-activation message: closes at most one warning window.
void CloseRemovalWarnings(WindowPort& window, Clock& clock);

}  // namespace romsetter
