// How much memory reading a recording takes, as a multiple of its file size: the bound
// docs/recording.md states (at most 2 times the file for commands) is what this measures.  A recording of
// a firmware upgrade without data (page writes as digests, page reads as digest and
// difference), written by the real writer, read by LoadRecording.
//   counters: file_MiB, peak_per_file_byte (heap bytes at the peak, over the file's size)
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "base/bytes.h"
#include "device/recording.h"
#include "device/vendor_commands.h"

namespace {

// Every heap byte the program holds, and the most it held since the last Reset.
std::atomic<std::size_t> heapNow{0};
std::atomic<std::size_t> heapPeak{0};

void* Take(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  const std::size_t now = heapNow += malloc_usable_size(p);
  for (std::size_t peak = heapPeak; now > peak && !heapPeak.compare_exchange_weak(peak, now);) {
  }
  return p;
}

void Give(void* p) {
  if (p == nullptr) return;
  heapNow -= malloc_usable_size(p);
  std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return Take(size); }
void* operator new[](std::size_t size) { return Take(size); }
void operator delete(void* p) noexcept { Give(p); }
void operator delete[](void* p) noexcept { Give(p); }
void operator delete(void* p, std::size_t) noexcept { Give(p); }
void operator delete[](void* p, std::size_t) noexcept { Give(p); }

namespace romsetter {
namespace {

// `pages` page writes, each read back, in the shape an upgrade records them.
std::string WriteUpgradeRecording(int pages) {
  const std::string path = (std::filesystem::temp_directory_path() / "romsetter_recording_bench.jsonl").string();
  RecordingWriter writer([] { return std::uint64_t{1234}; });
  RecordingHeader header;
  header.program = "romsetter-cli bench";
  header.os = "linux";
  std::string error;
  if (!writer.Open(path, header, error)) return "";
  std::vector<std::uint8_t> page(kPageSize);
  for (int i = 0; i < pages; ++i) {
    for (std::size_t b = 0; b < page.size(); ++b) page[b] = static_cast<std::uint8_t>(b * 7 + static_cast<std::size_t>(i));
    for (std::uint8_t code : {std::uint8_t{UPT_WRITE_PAGE}, std::uint8_t{UPT_READ_PAGE}}) {
      RecordingEntry e;
      RecordedCommand& c = e.command;
      c.cdbLength = 12;
      c.cdb[0] = kVendorOpcode;
      c.cdb[1] = code;
      WritePageParam(&c.cdb[3], 0x1000u + static_cast<std::uint32_t>(i));
      WritePageParam(&c.cdb[7], 1);
      c.length = kPageSize;
      c.delivered = c.statusGood = true;
      if (code == UPT_WRITE_PAGE) {
        c.direction = DataDirection::Out;
        c.payload = page;
      } else {
        c.direction = DataDirection::In;
        c.replyKnown = true;
        c.reply = page;
        c.reply[static_cast<std::size_t>(i) % kPageSize] ^= 0x10;  // a bit that came back wrong
      }
      e.micros = 900;
      writer.Write(std::move(e));
    }
  }
  return writer.ok() ? path : "";
}

void BM_LoadRecording(benchmark::State& state) {
  const std::string path = WriteUpgradeRecording(static_cast<int>(state.range(0)));
  if (path.empty()) {
    state.SkipWithError("the recording could not be written");
    return;
  }
  const double fileBytes = static_cast<double>(std::filesystem::file_size(path));
  double worst = 0;
  for (auto _ : state) {
    Recording recording;
    std::string error;
    const std::size_t before = heapNow;
    heapPeak = before;
    if (!LoadRecording(path, recording, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    worst = std::max(worst, static_cast<double>(heapPeak - before) / fileBytes);
    benchmark::DoNotOptimize(recording.entries.data());
  }
  state.counters["file_MiB"] = fileBytes / (1 << 20);
  state.counters["peak_per_file_byte"] = worst;
  std::filesystem::remove(path);
}
BENCHMARK(BM_LoadRecording)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace romsetter

BENCHMARK_MAIN();
