// AVX2 block kernels: 24 bytes to 32 characters and back per step, after Mula and
// Lemire's vector base64 algorithms. Only run when the CPU reports AVX2.
#include "b64_kernels.h"

#if defined(CLIENT_B64_X86)
#include <immintrin.h>

#define CLIENT_AVX2 __attribute__((target("avx2")))

namespace b64 {
namespace {

// Splits four groups of three bytes in each 128-bit lane into sixteen 6-bit indices,
// one per byte, in output order.
CLIENT_AVX2 inline __m256i indices_of(__m256i bytes) noexcept {
  // Each 32-bit word gets bytes b1 b0 b2 b1 of its group, so one multiply per 16-bit
  // half moves two of the four fields into place.
  const __m256i spread = _mm256_shuffle_epi8(
      bytes, _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10,  //
                              1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
  const __m256i first_third =
      _mm256_mulhi_epu16(_mm256_and_si256(spread, _mm256_set1_epi32(0x0FC0FC00)),
                         _mm256_set1_epi32(0x04000040));
  const __m256i second_fourth =
      _mm256_mullo_epi16(_mm256_and_si256(spread, _mm256_set1_epi32(0x003F03F0)),
                         _mm256_set1_epi32(0x01000010));
  return _mm256_or_si256(first_third, second_fourth);
}

// Maps 6-bit indices to alphabet characters by adding the offset of their range.
CLIENT_AVX2 inline __m256i chars_of(__m256i indices) noexcept {
  // Range numbers: 0..51 -> 0, 52..61 -> 1..10, 62 -> 11, 63 -> 12, then 0..25 -> 13.
  __m256i range = _mm256_subs_epu8(indices, _mm256_set1_epi8(51));
  const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), indices);
  range = _mm256_or_si256(range, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
  const __m256i offsets = _mm256_setr_epi8(
      'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
      '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0,  //
      'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
      '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  return _mm256_add_epi8(indices, _mm256_shuffle_epi8(offsets, range));
}

// Maps 32 characters to their 6-bit values. Returns false, leaving values alone,
// when any of them is outside the alphabet ("=" and bytes >= 128 included).
CLIENT_AVX2 inline bool values_of(__m256i chars, __m256i* values) noexcept {
  // A character is valid when its low- and high-nibble classes share no bit.
  const __m256i lo_classes =
      _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13,
                       0x1A, 0x1B, 0x1B, 0x1B, 0x1A,  //
                       0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13,
                       0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m256i hi_classes =
      _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10,
                       0x10, 0x10, 0x10, 0x10, 0x10,  //
                       0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10,
                       0x10, 0x10, 0x10, 0x10, 0x10);
  // Offsets by high nibble; "/" shares its nibble with "+" and takes the slot before.
  const __m256i offsets =
      _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0,  //
                       0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i mask_2f = _mm256_set1_epi8(0x2F);
  const __m256i hi_nibbles =
      _mm256_and_si256(_mm256_srli_epi32(chars, 4), mask_2f);  // bit 7 clear: no zeroing
  const __m256i lo = _mm256_shuffle_epi8(lo_classes, _mm256_and_si256(chars, mask_2f));
  const __m256i hi = _mm256_shuffle_epi8(hi_classes, hi_nibbles);
  if (!_mm256_testz_si256(lo, hi)) return false;
  const __m256i is_slash = _mm256_cmpeq_epi8(chars, mask_2f);
  const __m256i offset =
      _mm256_shuffle_epi8(offsets, _mm256_add_epi8(is_slash, hi_nibbles));
  *values = _mm256_add_epi8(chars, offset);
  return true;
}

// Packs four 6-bit values per 32-bit word into three bytes: 24 bytes, then 8 zeros, so
// the bytes a store writes past a block read as unwritten in a zeroed output.
CLIENT_AVX2 inline __m256i pack_values(__m256i values) noexcept {
  const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
  const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
  const __m256i lanes = _mm256_shuffle_epi8(
      words, _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,  //
                              2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
  return _mm256_permutevar8x32_epi32(lanes, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
}

}  // namespace

bool cpu_has_avx2() noexcept {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}

CLIENT_AVX2 progress encode_blocks_avx2(const std::uint8_t* in, std::size_t n,
                                        std::uint8_t* out) noexcept {
  std::size_t i = 0;
  std::size_t o = 0;
  // Each lane loads 16 bytes for its 12, so the step needs 28 readable bytes.
  for (; i + 28 <= n; i += 24, o += 32) {
    const __m256i bytes =
        _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(in + i + 12),
                            reinterpret_cast<const __m128i*>(in + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o), chars_of(indices_of(bytes)));
  }
  return {i, o};
}

CLIENT_AVX2 progress decode_blocks_avx2(const std::uint8_t* in, std::size_t n,
                                        std::uint8_t* out,
                                        std::size_t out_size) noexcept {
  std::size_t i = 0;
  std::size_t o = 0;
  // The store writes 32 bytes for 24: it must fit in the output.
  for (; i + 32 <= n && o + 32 <= out_size; i += 32, o += 24) {
    __m256i values;
    if (!values_of(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i)), &values))
      break;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o), pack_values(values));
  }
  return {i, o};
}

}  // namespace b64

#undef CLIENT_AVX2
#endif  // CLIENT_B64_X86
