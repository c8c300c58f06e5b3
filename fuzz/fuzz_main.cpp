// One libFuzzer target: ROMSETTER_FUZZ_ENTRY names its entry (fuzz_entries.h).  The target
// works in a fresh folder under $TMPDIR, which tools/fuzz points at a folder it removes.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_entries.h"

namespace {

std::string MakeScratch() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/romsetter-fuzz-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr || chdir(dir.c_str()) != 0) {
    std::perror("fuzz: cannot make a scratch folder");
    std::abort();
  }
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string scratch = MakeScratch();
  romsetter::fuzz::ROMSETTER_FUZZ_ENTRY(data, size, scratch);
  return 0;
}
