// NEON block kernels for 64-bit ARM: 48 bytes to 64 characters and back per step, with
// four-register table lookups for the alphabet. Every AArch64 CPU has Advanced SIMD, so
// they always run.
#include "b64_alphabet.h"
#include "b64_kernels.h"

#if defined(CLIENT_B64_ARM64)
#include <arm_neon.h>

#include <algorithm>
#include <array>

namespace b64 {
namespace {

// The value of each character code below 128: its alphabet position, or not_base64.
constexpr auto ascii_value_table = ascii_values(alphabet, not_base64);
static_assert(ascii_value_table['+'] == 62 && ascii_value_table['='] == not_base64);

inline uint8x16x4_t load_table(const std::uint8_t* table) noexcept {
  return vld1q_u8_x4(table);
}

// Maps characters to their 6-bit values; a character outside the alphabet gets a value
// above 63. Codes from 128 up are clamped to 127, itself outside. A lookup in a 64-byte
// table gives 0 (vqtbl) or keeps the lane (vqtbx) where the index is past its end, so
// the first lookup answers codes 0 to 63 and the second, at code - 64, those above.
inline uint8x16_t values_of(uint8x16_t chars, const uint8x16x4_t& low,
                            const uint8x16x4_t& high) noexcept {
  const uint8x16_t ascii = vminq_u8(chars, vdupq_n_u8(127));
  return vqtbx4q_u8(vqtbl4q_u8(low, ascii), high, vsubq_u8(ascii, vdupq_n_u8(64)));
}

}  // namespace

progress encode_blocks_neon64(const std::uint8_t* in, std::size_t n,
                              std::uint8_t* out) noexcept {
  const uint8x16x4_t chars = load_table(reinterpret_cast<const std::uint8_t*>(alphabet));
  const uint8x16_t low6 = vdupq_n_u8(0x3F);
  const std::size_t blocks = n / 48;
  for (std::size_t k = 0; k < blocks; ++k) {
    const uint8x16x3_t b = vld3q_u8(in + 48 * k);  // byte 0, 1 and 2 of 16 groups
    // The four 6-bit fields of each group; shift-left-and-insert joins the low bits of
    // one byte to the high bits of the next.
    const uint8x16_t f0 = vshrq_n_u8(b.val[0], 2);
    const uint8x16_t f1 =
        vandq_u8(vsliq_n_u8(vshrq_n_u8(b.val[1], 4), b.val[0], 4), low6);
    const uint8x16_t f2 =
        vandq_u8(vsliq_n_u8(vshrq_n_u8(b.val[2], 6), b.val[1], 2), low6);
    const uint8x16_t f3 = vandq_u8(b.val[2], low6);
    // Written out rather than looped: a loop over the lanes sends them through memory.
    const uint8x16x4_t c = {{vqtbl4q_u8(chars, f0), vqtbl4q_u8(chars, f1),
                             vqtbl4q_u8(chars, f2), vqtbl4q_u8(chars, f3)}};
    vst4q_u8(out + 64 * k, c);
  }
  return {48 * blocks, 64 * blocks};
}

progress decode_blocks_neon64(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                              std::size_t out_size) noexcept {
  const uint8x16x4_t low = load_table(ascii_value_table.data());
  const uint8x16x4_t high = load_table(ascii_value_table.data() + 64);
  // Blocks whose 48-byte store fits; the walk stops early at a block with a bad byte.
  const std::size_t blocks = std::min(n / 64, out_size / 48);
  std::size_t k = 0;
  for (; k < blocks; ++k) {
    const uint8x16x4_t c = vld4q_u8(in + 64 * k);  // character 0, 1, 2 and 3 of 16 groups
    const uint8x16_t v0 = values_of(c.val[0], low, high);
    const uint8x16_t v1 = values_of(c.val[1], low, high);
    const uint8x16_t v2 = values_of(c.val[2], low, high);
    const uint8x16_t v3 = values_of(c.val[3], low, high);
    if (vmaxvq_u8(vorrq_u8(vorrq_u8(v0, v1), vorrq_u8(v2, v3))) > 63) break;
    uint8x16x3_t b;
    b.val[0] = vsliq_n_u8(vshrq_n_u8(v1, 4), v0, 2);
    b.val[1] = vsliq_n_u8(vshrq_n_u8(v2, 2), v1, 4);
    b.val[2] = vsliq_n_u8(v3, v2, 6);
    vst3q_u8(out + 48 * k, b);
  }
  return {64 * k, 48 * k};
}

}  // namespace b64

#endif  // CLIENT_B64_ARM64
