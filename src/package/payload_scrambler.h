#pragma once
// The scrambler over a package's firmware images (the big-block and small-block ones; fonts
// and boot code travel plain).
#include <cstddef>
#include <cstdint>

namespace romsetter {

// The self-synchronising payload scrambler with taps 0x5A3C96E1, over one whole image from
// a cleared state, in place.  Bits go least significant first; the length never changes.
constexpr std::uint32_t kScramblerTaps = 0x5A3C96E1u;
void ScramblePayload(std::uint8_t* data, std::size_t length);
void DescramblePayload(std::uint8_t* data, std::size_t length);
// The bit-serial forms, one feedback step per bit: the reference the fast forms must match.
void ScramblePayloadBitwise(std::uint8_t* data, std::size_t length);
void DescramblePayloadBitwise(std::uint8_t* data, std::size_t length);

}  // namespace romsetter
