#pragma once
// Images that pass the image checks, for the demo, the samples tool and the tests.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace romsetter {

// Reproducible filler bytes.
std::vector<std::uint8_t> PatternBytes(std::size_t length, std::uint32_t seed);
// Whole pages whose words XOR to 0 (the last word balances the rest).
std::vector<std::uint8_t> BalancedImage(std::size_t pages, std::uint32_t seed);
// A NAND image whose first page is a "MORVENT " header storing the page count and the
// checksum of the pages after it.
std::vector<std::uint8_t> NandHeaderImage(std::size_t pages, std::uint32_t seed);

}  // namespace romsetter
