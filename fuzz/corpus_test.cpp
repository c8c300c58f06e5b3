// Every corpus file, seeds and the inputs that once broke a parser, through its target's
// entry: the corpus is checked in every native test run, with or without clang.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "fuzz/fuzz_entries.h"
#include "support/test_support.h"

namespace romsetter::test {
namespace {

namespace fs = std::filesystem;

class Corpus : public ::testing::TestWithParam<fuzz::FuzzTarget> {};

TEST_P(Corpus, EveryFileParsesWithoutBreakingAPromise) {
  const fuzz::FuzzTarget& target = GetParam();
  const fs::path folder = fs::path(ROMSETTER_SOURCE_DIR) / "fuzz" / "corpus" / target.name;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty()) << folder;
  const std::string scratch = ScratchDir(std::string("fuzz_") + target.name);
  const fs::path home = fs::current_path();
  ASSERT_EQ(chdir(scratch.c_str()), 0);
  for (const fs::path& file : files) {
    // A broken promise aborts: the last name printed is the input that broke it.
    std::fprintf(stderr, "corpus: %s\n", file.c_str());
    const std::string bytes = ReadFile(file.string());
    target.run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), scratch);
  }
  fs::current_path(home);
}

INSTANTIATE_TEST_SUITE_P(Fuzz, Corpus, ::testing::ValuesIn(fuzz::kFuzzTargets),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace romsetter::test
