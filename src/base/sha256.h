#pragma once
// SHA-256, for digests that stand in for data that must not leave the machine (a recording's
// firmware pages): strong enough that no page can be rebuilt from its digest.
#include <cstddef>
#include <cstdint>
#include <string>

namespace romsetter {

// The digest of `length` bytes as 64 lower-case hex digits.
std::string Sha256Hex(const std::uint8_t* data, std::size_t length);

}  // namespace romsetter
