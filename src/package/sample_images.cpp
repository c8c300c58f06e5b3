#include "package/sample_images.h"

#include <algorithm>

#include "base/bytes.h"

namespace romsetter {

namespace {
std::uint16_t XorWords(const std::vector<std::uint8_t>& data, std::size_t from) {
  std::uint16_t sum = 0;
  for (std::size_t i = from; i + 1 < data.size(); i += 2) sum ^= ReadLe16(&data[i]);
  return sum;
}
}  // namespace

std::vector<std::uint8_t> PatternBytes(std::size_t length, std::uint32_t seed) {
  std::vector<std::uint8_t> data(length);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : data) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return data;
}

std::vector<std::uint8_t> BalancedImage(std::size_t pages, std::uint32_t seed) {
  std::vector<std::uint8_t> data = PatternBytes(pages * kPageSize, seed);
  if (data.size() < 2) return data;
  WriteLe16(&data[data.size() - 2], 0);
  WriteLe16(&data[data.size() - 2], XorWords(data, 0));
  return data;
}

std::vector<std::uint8_t> NandHeaderImage(std::size_t pages, std::uint32_t seed) {
  std::vector<std::uint8_t> data = PatternBytes(std::max<std::size_t>(pages, 1) * kPageSize, seed);
  std::fill(data.begin(), data.begin() + kPageSize, 0);
  const char magic[] = "MORVENT ";
  std::copy(magic, magic + 8, data.begin());
  WriteLe16(&data[8], static_cast<std::uint16_t>(pages));
  WriteLe16(&data[12], XorWords(data, kPageSize));
  return data;
}

}  // namespace romsetter
