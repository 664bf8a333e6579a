// AVX-512 VBMI block kernels: 48 bytes to 64 characters and back per step, with byte
// permutes for the table lookups, after Mula and Lemire. Only run when the CPU reports
// AVX-512 BW and VBMI.
#include "b64_alphabet.h"
#include "b64_kernels.h"

#if defined(CLIENT_B64_X86)
#include <immintrin.h>

#include <array>

#define CLIENT_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))

namespace b64 {
namespace {

// Byte indices that give each 32-bit word the bytes b1 b0 b2 b1 of its group of three.
constexpr auto spread_indices = [] {
  std::array<std::uint8_t, 64> t{};
  for (std::size_t k = 0; k < 16; ++k) {
    t[4 * k] = static_cast<std::uint8_t>(3 * k + 1);
    t[4 * k + 1] = static_cast<std::uint8_t>(3 * k);
    t[4 * k + 2] = static_cast<std::uint8_t>(3 * k + 2);
    t[4 * k + 3] = static_cast<std::uint8_t>(3 * k + 1);
  }
  return t;
}();

// Byte indices that gather the three bytes of each packed 32-bit word (its bytes 2, 1,
// 0), then point at a zero byte (byte 3 of word 0) for the 16 spare lanes.
constexpr auto pack_indices = [] {
  std::array<std::uint8_t, 64> t{};
  for (std::size_t m = 0; m < 64; ++m)
    t[m] = static_cast<std::uint8_t>(m < 48 ? 4 * (m / 3) + 2 - m % 3 : 3);
  return t;
}();

// Character code 0 to 127 to its value; 0x80 for any other code.
constexpr auto value_table = ascii_values(alphabet, 0x80);

CLIENT_AVX512 inline __m512i load64(const void* p) noexcept {
  return _mm512_loadu_si512(p);
}

// The plain forms of these two instructions use an undefined source that GCC 12 flags
// as uninitialised; an all-lanes mask with zeroing makes the same instruction.
constexpr __mmask64 all_lanes = ~__mmask64{0};

CLIENT_AVX512 inline __m512i permute_bytes(__m512i indices, __m512i table) noexcept {
  return _mm512_maskz_permutexvar_epi8(all_lanes, indices, table);
}

CLIENT_AVX512 inline __m512i gather_fields(__m512i offsets, __m512i words) noexcept {
  return _mm512_maskz_multishift_epi64_epi8(all_lanes, offsets, words);
}

}  // namespace

bool cpu_has_avx512vbmi() noexcept {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
  }();
  return has;
}

CLIENT_AVX512 progress encode_blocks_avx512vbmi(const std::uint8_t* in, std::size_t n,
                                                std::uint8_t* out) noexcept {
  const __m512i spread = load64(spread_indices.data());
  const __m512i chars = load64(alphabet);
  // Per 64-bit word, the bit offsets of the four fields of its two groups.
  const __m512i fields = _mm512_set1_epi64(0x3036242a1016040a);
  std::size_t i = 0;
  std::size_t o = 0;
  // The load reads 64 bytes for 48.
  for (; i + 64 <= n; i += 48, o += 64) {
    const __m512i groups = permute_bytes(spread, load64(in + i));
    const __m512i indices = gather_fields(fields, groups);
    _mm512_storeu_si512(out + o, permute_bytes(indices, chars));
  }
  return {i, o};
}

CLIENT_AVX512 progress decode_blocks_avx512vbmi(const std::uint8_t* in, std::size_t n,
                                                std::uint8_t* out,
                                                std::size_t out_size) noexcept {
  const __m512i values_low = load64(value_table.data());
  const __m512i values_high = load64(value_table.data() + 64);
  const __m512i pack = load64(pack_indices.data());
  std::size_t i = 0;
  std::size_t o = 0;
  // The store writes 64 bytes for 48, zeros past them; it must fit in the output.
  for (; i + 64 <= n && o + 64 <= out_size; i += 64, o += 48) {
    const __m512i chars = load64(in + i);
    const __m512i values = _mm512_permutex2var_epi8(values_low, chars, values_high);
    // Bit 7 marks a code of 128 or more, or a character outside the alphabet.
    if (_mm512_movepi8_mask(_mm512_or_si512(values, chars)) != 0) break;
    const __m512i pairs = _mm512_maddubs_epi16(values, _mm512_set1_epi32(0x01400140));
    const __m512i words = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000));
    _mm512_storeu_si512(out + o, permute_bytes(pack, words));
  }
  return {i, o};
}

}  // namespace b64

#undef CLIENT_AVX512
#endif  // CLIENT_B64_X86
