#include "app/update_controls.h"

namespace romsetter {

bool UsableFileName(const std::string& name) { return !name.empty() && name.find("NONE") == std::string::npos; }

void UpdateControls(const Selections& s, bool devicePresent, bool packageMode, WindowPort& window) {
  window.EnableControl(Control::Upgrade, devicePresent);
  window.EnableControl(Control::ExtractFw, devicePresent);
  if (packageMode) {
    window.EnableControl(Control::PackExe, false);
    window.Repaint();
    return;
  }
  bool ok = (s.norSelected || s.loadFirmware || s.loadFont) && devicePresent;
  if (s.loadFirmware) {
    const bool big = UsableFileName(s.bigFirmwarePath);
    ok = devicePresent && (s.norSelected ? big : big || UsableFileName(s.smallFirmwarePath));
  }
  if (s.norSelected && s.loadBootCode && !UsableFileName(s.bootPath)) ok = false;
  if (s.loadFont && !UsableFileName(s.fontListPath)) ok = false;
  window.EnableControl(Control::PackExe, s.loadFirmware && ok);
  window.EnableControl(Control::Upgrade, ok);
  window.EnableControl(Control::ExtractFw, ok);
  // A format alone needs no file.
  if (devicePresent && s.formatChecked) window.EnableControl(Control::Upgrade, true);
  window.Repaint();
}

}  // namespace romsetter
