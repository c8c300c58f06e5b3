#pragma once
// The test-only entry points of the emulator wnaspi32.dll beside the test program.  Kept
// apart so suites that use AspiTransport need not include <windows.h> (whose CreateEvent
// macro would rename the transport's method).
#include <string>
#include <vector>

namespace romsetter::test {

class EmulatorDll {
 public:
  EmulatorDll();  // holds a reference, so the library's state lives as long as this object
  ~EmulatorDll();
  EmulatorDll(const EmulatorDll&) = delete;
  EmulatorDll& operator=(const EmulatorDll&) = delete;

  bool Loaded() const { return module_ != nullptr; }
  // Replaces the emulated devices with the scenario in `path`; false on a bad file.
  bool LoadScenario(const std::string& path);
  // The library's command trace, one entry per command.
  std::vector<std::string> Trace();

 private:
  void* module_;
};

}  // namespace romsetter::test
