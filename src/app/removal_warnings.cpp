#include "app/removal_warnings.h"

namespace romsetter {

const std::array<std::string, 6>& RemovalWarningTitles() {
  static const std::array<std::string, 6> titles = {
      // Unsafe removal of device: Big5, then GBK.
      "\xAB\x44\xA6\x77\xA5\xFE\xA4\xE8\xA6\xA1\xB2\xBE\xB0\xA3\xB8\xCB\xB8\x6D",
      "\xB7\xC7\xB0\xB2\xC8\xAB\xB7\xBD\xCA\xBD\xD2\xC6\xB3\xFD\xD7\xB0\xD6\xC3",
      // Unsafe device removal.
      "\xA4\xA3\xA6\x77\xA5\xFE\xAA\xBA\xB2\xBE\xB0\xA3\xB8\xCB\xB8\x6D",
      "\xB2\xBB\xB0\xB2\xC8\xAB\xB5\xC4\xD2\xC6\xB3\xFD\xD7\xB0\xD6\xC3",
      // Safe to remove hardware.
      "\xA5\x69\xA5\x48\xA9\xF1\xA4\xDF\xB2\xBE\xB0\xA3\xB5\x77\xC5\xE9",
      "\xBF\xC9\xD2\xD4\xB7\xC5\xD0\xC4\xD2\xC6\xB3\xFD\xD3\xB2\xCC\xE5",
  };
  return titles;
}

void CloseRemovalWarnings(WindowPort& window, Clock& clock) {
  window.FlashCaption(true);
  for (const std::string& title : RemovalWarningTitles()) {
    if (window.CloseWindowByTitle(title)) {
      clock.SleepMs(1);
      break;
    }
  }
  window.FlashCaption(false);
}

}  // namespace romsetter
