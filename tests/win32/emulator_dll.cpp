#include "win32/emulator_dll.h"

#include <windows.h>

#include <sstream>

namespace romsetter::test {

namespace {
using LoadEntry = int(__cdecl*)(const char*);
using TraceEntry = int(__cdecl*)(char*, int);

template <typename Entry>
Entry EntryPoint(void* module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(module), name)));
}
}  // namespace

EmulatorDll::EmulatorDll() : module_(LoadLibraryA("wnaspi32.dll")) {}

EmulatorDll::~EmulatorDll() {
  if (module_ != nullptr) FreeLibrary(static_cast<HMODULE>(module_));
}

bool EmulatorDll::LoadScenario(const std::string& path) {
  const LoadEntry load = EntryPoint<LoadEntry>(module_, "RomsetterEmulatorLoad");
  return load != nullptr && load(path.c_str()) == 1;
}

std::vector<std::string> EmulatorDll::Trace() {
  std::vector<std::string> lines;
  const TraceEntry trace = EntryPoint<TraceEntry>(module_, "RomsetterEmulatorTrace");
  const int size = trace == nullptr ? 0 : trace(nullptr, 0);
  if (size <= 0) return lines;
  std::string text(static_cast<std::size_t>(size), '\0');
  trace(&text[0], size);
  text.resize(static_cast<std::size_t>(size - 1));
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace romsetter::test
