// Opening and building a 4 MiB package through the real file system (a scratch folder under
// /tmp); the goals are UnpackSelf within 10 ms and BuildPackage within 20 ms.
//   UnpackPackage   copy, read, locate, check (CRC), descramble, settings: ms per open
//   BuildPackage    copy, read and scramble the images, append, read back: ms per build
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "base/log_sink.h"
#include "package/package_builder.h"
#include "package/unpack.h"

namespace romsetter {
namespace {

class QuietSink : public LogSink, public MessagePort {
 public:
  void Log(const std::string&) override {}
  void LogSystemError(std::uint32_t) override {}
  void AddStatusLine(const std::string&) override {}
  MessageAnswer ShowMessage(const std::string&, const std::string&, MessageIcon, MessageButtons) override {
    return MessageAnswer::Ok;
  }
  std::optional<std::string> OpenFileDialog(const FileDialogRequest&) override { return std::nullopt; }
};

class MemoryStore : public ProfileStore {
 public:
  std::string Read(const std::string&, const std::string&, const std::string& dflt) override { return dflt; }
  bool Write(const std::string&, const std::string&, const std::string&) override { return true; }
  bool DeleteFile() override { return true; }
};

struct Rig {
  std::string dir = (std::filesystem::temp_directory_path() / "romsetter_package_bench").string();
  QuietSink quiet;
  MemoryStore store;
  ProcessState process;
  Selections sel;
  ImageStore images;
  ImagePageCounts pages;
  FontList fonts{quiet, quiet, process, images, pages};

  Rig() {
    std::filesystem::create_directories(dir);
    Put("prog.exe", 1u << 20);
    Put("fw.bin", 1536u << 10);
    Put("small.bin", 1536u << 10);
    sel.bigFirmwarePath = dir + "/fw.bin";
    sel.smallFirmwarePath = dir + "/small.bin";
  }
  void Put(const char* name, std::size_t size) {
    std::vector<std::uint8_t> data(size);
    std::uint32_t x = static_cast<std::uint32_t>(size);
    for (auto& b : data) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
  }
  bool Build() {
    StdioPackageFiles files(dir + "/prog.exe");
    return BuildPackage(BuildPorts{files, quiet, quiet, store, fonts, process}, sel, PackageIdentity{});
  }
};

void BuildPackageBench(benchmark::State& state) {
  Rig rig;
  for (auto _ : state) {
    if (!rig.Build()) state.SkipWithError("build failed");
  }
}

void UnpackPackageBench(benchmark::State& state) {
  Rig rig;
  if (!rig.Build()) {
    state.SkipWithError("build failed");
    return;
  }
  StdioPackageFiles files(rig.sel.packPath);
  const FixedPaths paths = FixedPaths::UnderFolder(rig.dir);
  for (auto _ : state) {
    if (UnpackSelf(UnpackPorts{files, rig.quiet, paths, rig.process, rig.images}, false) != UnpackResult::Package) {
      state.SkipWithError("not a package");
    }
  }
}

BENCHMARK(BuildPackageBench)->Unit(benchmark::kMillisecond);
BENCHMARK(UnpackPackageBench)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace romsetter

BENCHMARK_MAIN();
