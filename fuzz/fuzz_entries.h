#pragma once
// One entry per parser of outside input, each taking one input the way the program meets it:
// the libFuzzer targets (fuzz/targets) and the corpus test (fuzz/corpus_test.cpp) share them,
// so every corpus file is also checked by the ordinary test run.  An entry returns normally
// on any input; a crash, a sanitizer report or a broken round trip (which aborts) is a bug.
#include <cstddef>
#include <cstdint>
#include <string>

namespace romsetter::fuzz {

// Files an entry needs go into `scratch`, an existing folder the caller owns, which is also
// the working folder (font lists name their fonts relative to it).  Nothing is written
// outside it.
struct FuzzTarget {
  const char* name;  // also the corpus folder, fuzz/corpus/<name>
  void (*run)(const std::uint8_t* data, std::size_t size, const std::string& scratch);
};

void FuzzPackage(const std::uint8_t* data, std::size_t size, const std::string& scratch);
void FuzzImageChecks(const std::uint8_t* data, std::size_t size, const std::string& scratch);
void FuzzFontList(const std::uint8_t* data, std::size_t size, const std::string& scratch);
void FuzzSettings(const std::uint8_t* data, std::size_t size, const std::string& scratch);
void FuzzEmulatorConfig(const std::uint8_t* data, std::size_t size, const std::string& scratch);
void FuzzFlashFile(const std::uint8_t* data, std::size_t size, const std::string& scratch);
void FuzzCliOptions(const std::uint8_t* data, std::size_t size, const std::string& scratch);
void FuzzRecording(const std::uint8_t* data, std::size_t size, const std::string& scratch);

inline constexpr FuzzTarget kFuzzTargets[] = {
    {"package", FuzzPackage},         {"image_checks", FuzzImageChecks},
    {"font_list", FuzzFontList},      {"settings", FuzzSettings},
    {"emulator_config", FuzzEmulatorConfig}, {"flash_file", FuzzFlashFile},
    {"cli_options", FuzzCliOptions},  {"recording", FuzzRecording},
};

}  // namespace romsetter::fuzz
