#include "package/payload_scrambler.h"

// x86-64 processors with carry-less multiplication scramble and descramble by multiplying
// polynomials; everything else uses the tables and word shifts below.
#if defined(__x86_64__) && defined(__GNUC__)
#define ROMSETTER_CLMUL 1
#include <emmintrin.h>
#include <wmmintrin.h>
#endif

#include <utility>

namespace romsetter {

namespace {

// The scrambler's output over 64 bits in stream order (bit t of the word is the stream's
// bit t), given the 64 plain bits and the previous 32 output bits (bit 31 the most recent).
constexpr std::uint64_t ScrambleBlockSerial(std::uint64_t plain, std::uint32_t past) {
  std::uint64_t out = 0;
  for (int t = 0; t < 64; ++t) {
    std::uint64_t bit = (plain >> t) & 1;
    for (int i = 0; i < 32; ++i) {
      if (((kScramblerTaps >> i) & 1) == 0) continue;
      const int back = t - (i + 1);
      bit ^= back >= 0 ? (out >> back) & 1 : (past >> (32 + back)) & 1;
    }
    out |= bit << t;
  }
  return out;
}

// The scrambler is linear, so a 64-bit block's output is the XOR of what each byte of plain
// text and each byte of the past contributes alone: one table per byte position.  `past`
// gives the past's share in the block right after it, `pastNext` in the block after that
// (both blocks' input zero), so two blocks can be finished from one past.
struct ScrambleTables {
  std::uint64_t plain[8][256];
  std::uint64_t past[4][256];
  std::uint64_t pastNext[4][256];
};

template <std::size_t Bytes>
constexpr void FillByteTables(const std::uint64_t (&bitShare)[8 * Bytes], std::uint64_t (&table)[Bytes][256]) {
  for (std::size_t b = 0; b < Bytes; ++b) {
    for (std::size_t v = 0; v < 256; ++v) {
      std::uint64_t sum = 0;
      for (std::size_t j = 0; j < 8; ++j) {
        if ((v >> j) & 1) sum ^= bitShare[8 * b + j];
      }
      table[b][v] = sum;
    }
  }
}

constexpr ScrambleTables BuildScrambleTables() {
  ScrambleTables tables{};
  std::uint64_t plainBit[64] = {};
  std::uint64_t pastBit[32] = {};
  std::uint64_t pastNextBit[32] = {};
  for (int i = 0; i < 64; ++i) plainBit[i] = ScrambleBlockSerial(std::uint64_t{1} << i, 0);
  for (int i = 0; i < 32; ++i) {
    pastBit[i] = ScrambleBlockSerial(0, std::uint32_t{1} << i);
    pastNextBit[i] = ScrambleBlockSerial(0, static_cast<std::uint32_t>(pastBit[i] >> 32));
  }
  FillByteTables(plainBit, tables.plain);
  FillByteTables(pastBit, tables.past);
  FillByteTables(pastNextBit, tables.pastNext);
  return tables;
}

constexpr ScrambleTables kScrambleTables = BuildScrambleTables();

inline std::uint64_t LoadLe64(const std::uint8_t* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t{p[i]} << (8 * i);
  return v;
}
inline std::uint64_t LoadLe64(const std::uint8_t* p) {
  return std::uint64_t{p[0]} | (std::uint64_t{p[1]} << 8) | (std::uint64_t{p[2]} << 16) |
         (std::uint64_t{p[3]} << 24) | (std::uint64_t{p[4]} << 32) | (std::uint64_t{p[5]} << 40) |
         (std::uint64_t{p[6]} << 48) | (std::uint64_t{p[7]} << 56);
}
inline void StoreLe64(std::uint8_t* p, std::uint64_t v, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void StoreLe64(std::uint8_t* p, std::uint64_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
  p[4] = static_cast<std::uint8_t>(v >> 32);
  p[5] = static_cast<std::uint8_t>(v >> 40);
  p[6] = static_cast<std::uint8_t>(v >> 48);
  p[7] = static_cast<std::uint8_t>(v >> 56);
}

inline std::uint64_t FromPlain(std::uint64_t plain) {
  const ScrambleTables& t = kScrambleTables;
  return t.plain[0][plain & 0xFF] ^ t.plain[1][(plain >> 8) & 0xFF] ^ t.plain[2][(plain >> 16) & 0xFF] ^
         t.plain[3][(plain >> 24) & 0xFF] ^ t.plain[4][(plain >> 32) & 0xFF] ^ t.plain[5][(plain >> 40) & 0xFF] ^
         t.plain[6][(plain >> 48) & 0xFF] ^ t.plain[7][plain >> 56];
}
inline std::uint64_t FromPast(const std::uint64_t (&table)[4][256], std::uint32_t past) {
  return table[0][past & 0xFF] ^ table[1][(past >> 8) & 0xFF] ^ table[2][(past >> 16) & 0xFF] ^ table[3][past >> 24];
}
inline std::uint32_t Top(std::uint64_t block) { return static_cast<std::uint32_t>(block >> 32); }

// Tap I: the scrambled stream delayed by I + 1 bits, taken from this word and the one before.
template <std::size_t I>
inline std::uint64_t Tap(std::uint64_t word, std::uint64_t previous) {
  if constexpr (((kScramblerTaps >> I) & 1) != 0) {
    return (word << (I + 1)) | (previous >> (63 - I));
  } else {
    return 0;
  }
}
template <std::size_t... I>
inline std::uint64_t Feedback(std::uint64_t word, std::uint64_t previous, std::index_sequence<I...>) {
  return (std::uint64_t{0} ^ ... ^ Tap<I>(word, previous));
}

// Descrambling reads only scrambled bits, so each word needs just itself and the word before.
inline std::uint64_t DescrambleBlock(std::uint64_t word, std::uint64_t previous) {
  return word ^ Feedback(word, previous, std::make_index_sequence<32>{});
}

#if defined(ROMSETTER_CLMUL)
// As polynomials over GF(2), scrambling divides the stream by g = 1 + taps and descrambling
// multiplies by g.  Bit t of a word is the coefficient of D^t.
constexpr std::uint64_t kTapsPolynomial = std::uint64_t{kScramblerTaps} << 1;  // bit i taps i + 1 back
// 1/g to 128 terms: the response to a single 1 bit from a cleared state.
constexpr std::uint64_t kInverseLow = ScrambleBlockSerial(1, 0);
constexpr std::uint64_t kInverseHigh = ScrambleBlockSerial(0, static_cast<std::uint32_t>(kInverseLow >> 32));

bool HasClmul() {
  static const bool has = __builtin_cpu_supports("pclmul");
  return has;
}

// Each 16-byte block scrambled as if from a cleared state: its 128 bits times 1/g, truncated.
__attribute__((target("pclmul"))) void ScrambleBlocksFromClearedClmul(std::uint8_t* data, std::size_t length) {
  const __m128i inverse = _mm_set_epi64x(static_cast<long long>(kInverseHigh), static_cast<long long>(kInverseLow));
  for (std::size_t n = 0; n + 16 <= length; n += 16) {
    const __m128i plain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + n));
    const __m128i low = _mm_clmulepi64_si128(plain, inverse, 0x00);
    const __m128i cross = _mm_xor_si128(_mm_clmulepi64_si128(plain, inverse, 0x10),
                                        _mm_clmulepi64_si128(plain, inverse, 0x01));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(data + n), _mm_xor_si128(low, _mm_slli_si128(cross, 8)));
  }
}

// Whole 16-byte blocks times g: each word's own product plus the part of the word before's
// that reaches past it.  Returns the bytes done and leaves the last scrambled word read.
__attribute__((target("pclmul"))) std::size_t DescrambleClmul(std::uint8_t* data, std::size_t length,
                                                              std::uint64_t& previous) {
  const __m128i taps = _mm_set_epi64x(0, static_cast<long long>(kTapsPolynomial));
  __m128i carriesBefore = _mm_setzero_si128();
  __m128i wordsBefore = _mm_setzero_si128();
  std::size_t n = 0;
  for (; n + 16 <= length; n += 16) {
    const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + n));
    const __m128i first = _mm_clmulepi64_si128(words, taps, 0x00);
    const __m128i second = _mm_clmulepi64_si128(words, taps, 0x01);
    const __m128i own = _mm_unpacklo_epi64(first, second);
    const __m128i carries = _mm_unpackhi_epi64(first, second);
    const __m128i incoming =
        _mm_castpd_si128(_mm_shuffle_pd(_mm_castsi128_pd(carriesBefore), _mm_castsi128_pd(carries), 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(data + n), _mm_xor_si128(words, _mm_xor_si128(own, incoming)));
    carriesBefore = carries;
    wordsBefore = words;
  }
  previous = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(wordsBefore, wordsBefore)));
  return n;
}
#endif

}  // namespace

void ScramblePayloadBitwise(std::uint8_t* data, std::size_t length) {
  std::uint32_t state = 0;  // bit i: the scrambled bit i + 1 steps back
  for (std::size_t n = 0; data != nullptr && n < length; ++n) {
    std::uint8_t out = 0;
    for (int j = 0; j < 8; ++j) {
      const std::uint32_t x = (data[n] >> j) & 1u;
      const std::uint32_t y = x ^ static_cast<std::uint32_t>(__builtin_parity(state & kScramblerTaps));
      state = (state << 1) | y;
      out = static_cast<std::uint8_t>(out | (y << j));
    }
    data[n] = out;
  }
}

void DescramblePayloadBitwise(std::uint8_t* data, std::size_t length) {
  std::uint32_t state = 0;
  for (std::size_t n = 0; data != nullptr && n < length; ++n) {
    std::uint8_t out = 0;
    for (int j = 0; j < 8; ++j) {
      const std::uint32_t y = (data[n] >> j) & 1u;
      const std::uint32_t x = y ^ static_cast<std::uint32_t>(__builtin_parity(state & kScramblerTaps));
      state = (state << 1) | y;
      out = static_cast<std::uint8_t>(out | (x << j));
    }
    data[n] = out;
  }
}

namespace {

// Each 16-byte block of `length` (a multiple of 16) scrambled as if from a cleared state.
void ScrambleBlocksFromCleared(std::uint8_t* data, std::size_t length) {
#if defined(ROMSETTER_CLMUL)
  if (HasClmul()) return ScrambleBlocksFromClearedClmul(data, length);
#endif
  for (std::size_t n = 0; n < length; n += 16) {
    const std::uint64_t first = FromPlain(LoadLe64(data + n));
    StoreLe64(data + n, first);
    StoreLe64(data + n + 8, FromPlain(LoadLe64(data + n + 8)) ^ FromPast(kScrambleTables.past, Top(first)));
  }
}

}  // namespace

void ScramblePayload(std::uint8_t* data, std::size_t length) {
  if (data == nullptr) return;
  std::uint32_t past = 0;  // the last 32 scrambled bits, the most recent at bit 31
  std::size_t n = 0;
  // Two passes over each chunk.  The first scrambles every pair of blocks as if from a cleared
  // state, which needs no earlier output; the second adds the past's share, so only four
  // lookups per pair lie on the chain from one pair to the next.
  constexpr std::size_t kChunk = 4096;
  while (length - n >= 16) {
    const std::size_t end = n + ((length - n < kChunk ? length - n : kChunk) & ~std::size_t{15});
    ScrambleBlocksFromCleared(data + n, end - n);
    for (; n < end; n += 16) {
      StoreLe64(data + n, LoadLe64(data + n) ^ FromPast(kScrambleTables.past, past));
      const std::uint64_t second = LoadLe64(data + n + 8) ^ FromPast(kScrambleTables.pastNext, past);
      StoreLe64(data + n + 8, second);
      past = Top(second);
    }
  }
  if (length - n >= 8) {
    const std::uint64_t out = FromPlain(LoadLe64(data + n)) ^ FromPast(kScrambleTables.past, past);
    StoreLe64(data + n, out);
    past = Top(out);
    n += 8;
  }
  // Output bits never depend on later input, so zero padding leaves the tail's bits right.
  if (n < length) {
    const std::uint64_t out = FromPlain(LoadLe64(data + n, length - n)) ^ FromPast(kScrambleTables.past, past);
    StoreLe64(data + n, out, length - n);
  }
}

void DescramblePayload(std::uint8_t* data, std::size_t length) {
  if (data == nullptr) return;
  std::uint64_t previous = 0;  // the scrambled word before, read before it was overwritten
  std::size_t n = 0;
#if defined(ROMSETTER_CLMUL)
  if (HasClmul()) n = DescrambleClmul(data, length, previous);
#endif
  for (; n + 8 <= length; n += 8) {
    const std::uint64_t word = LoadLe64(data + n);
    StoreLe64(data + n, DescrambleBlock(word, previous));
    previous = word;
  }
  if (n < length) StoreLe64(data + n, DescrambleBlock(LoadLe64(data + n, length - n), previous), length - n);
}

}  // namespace romsetter
