// Payload scrambling against memcpy of the same 4 MiB buffer in the same run; the goals are
// scrambling at 1/20 of memcpy's throughput or better and descrambling at 1/10 or better.
//   Memcpy, Scramble, Descramble            bytes_per_second of each
//   ScrambleBitwise, DescrambleBitwise      the bit-serial reference, for scale
//   PayloadCrc32                            zlib's crc32 over the same buffer
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "package/package_format.h"
#include "package/payload_scrambler.h"

namespace romsetter {
namespace {

constexpr std::size_t kBufferSize = 4u << 20;

std::vector<std::uint8_t> Buffer() {
  std::vector<std::uint8_t> data(kBufferSize);
  std::uint32_t x = 12345;
  for (auto& b : data) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  return data;
}

void Memcpy(benchmark::State& state) {
  const auto source = Buffer();
  std::vector<std::uint8_t> target(source.size());
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), source.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}

template <void (*Transform)(std::uint8_t*, std::size_t)>
void InPlace(benchmark::State& state) {
  auto data = Buffer();
  for (auto _ : state) {
    Transform(data.data(), data.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void Crc(benchmark::State& state) {
  const auto data = Buffer();
  for (auto _ : state) benchmark::DoNotOptimize(PayloadCrc32(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

BENCHMARK(Memcpy);
BENCHMARK(InPlace<ScramblePayload>)->Name("Scramble");
BENCHMARK(InPlace<DescramblePayload>)->Name("Descramble");
BENCHMARK(InPlace<ScramblePayloadBitwise>)->Name("ScrambleBitwise");
BENCHMARK(InPlace<DescramblePayloadBitwise>)->Name("DescrambleBitwise");
BENCHMARK(Crc)->Name("PayloadCrc32");

}  // namespace
}  // namespace romsetter

BENCHMARK_MAIN();
