// NEON block kernels for 32-bit ARM: 48 bytes to 64 characters and back per step. The
// default armhf FPU has no NEON, so the kernels carry their own FPU and only run when
// the kernel reports NEON in the hardware capabilities.
#include "b64_kernels.h"

#if defined(CLIENT_B64_ARM)
#include <sys/auxv.h>

#include <arm_neon.h>

#ifndef HWCAP_NEON
#define HWCAP_NEON (1 << 12)
#endif

#define CLIENT_NEON __attribute__((target("fpu=neon")))

namespace b64 {
namespace {

// Mask of the lanes of x inside [low, low + count).
CLIENT_NEON inline uint8x16_t in_range(uint8x16_t x, std::uint8_t low,
                                       std::uint8_t count) noexcept {
  return vcltq_u8(vsubq_u8(x, vdupq_n_u8(low)), vdupq_n_u8(count));
}

// Maps 6-bit indices to alphabet characters: 'A' plus an offset per range.
CLIENT_NEON inline uint8x16_t chars_of(uint8x16_t indices) noexcept {
  uint8x16_t offset = vdupq_n_u8('A');
  offset = vaddq_u8(
      offset, vandq_u8(vcgeq_u8(indices, vdupq_n_u8(26)), vdupq_n_u8('a' - 26 - 'A')));
  offset = vsubq_u8(offset, vandq_u8(vcgeq_u8(indices, vdupq_n_u8(52)),
                                     vdupq_n_u8(('a' - 26) - ('0' - 52))));
  offset = vsubq_u8(offset, vandq_u8(vcgeq_u8(indices, vdupq_n_u8(62)),
                                     vdupq_n_u8(('0' - 52) - ('+' - 62))));
  offset = vaddq_u8(offset, vandq_u8(vcgeq_u8(indices, vdupq_n_u8(63)),
                                     vdupq_n_u8(('/' - 63) - ('+' - 62))));
  return vaddq_u8(indices, offset);
}

// Maps characters to their 6-bit values; lanes outside the alphabet get bits in *bad.
CLIENT_NEON inline uint8x16_t values_of(uint8x16_t chars, uint8x16_t* bad) noexcept {
  const uint8x16_t upper = in_range(chars, 'A', 26);
  const uint8x16_t lower = in_range(chars, 'a', 26);
  const uint8x16_t digit = in_range(chars, '0', 10);
  const uint8x16_t plus = vceqq_u8(chars, vdupq_n_u8('+'));
  const uint8x16_t slash = vceqq_u8(chars, vdupq_n_u8('/'));
  uint8x16_t v = vandq_u8(upper, vsubq_u8(chars, vdupq_n_u8('A')));
  v = vorrq_u8(v, vandq_u8(lower, vsubq_u8(chars, vdupq_n_u8('a' - 26))));
  v = vorrq_u8(v, vandq_u8(digit, vaddq_u8(chars, vdupq_n_u8(52 - '0'))));
  v = vorrq_u8(v, vandq_u8(plus, vdupq_n_u8(62)));
  v = vorrq_u8(v, vandq_u8(slash, vdupq_n_u8(63)));
  const uint8x16_t valid =
      vorrq_u8(vorrq_u8(upper, lower), vorrq_u8(digit, vorrq_u8(plus, slash)));
  *bad = vorrq_u8(*bad, vmvnq_u8(valid));
  return v;
}

// True when any lane of x is non-zero.
CLIENT_NEON inline bool any_set(uint8x16_t x) noexcept {
  const uint64x2_t halves = vreinterpretq_u64_u8(x);
  return (vgetq_lane_u64(halves, 0) | vgetq_lane_u64(halves, 1)) != 0;
}

}  // namespace

bool cpu_has_neon() noexcept {
  static const bool has = (getauxval(AT_HWCAP) & HWCAP_NEON) != 0;
  return has;
}

CLIENT_NEON progress encode_blocks_neon(const std::uint8_t* in, std::size_t n,
                                        std::uint8_t* out) noexcept {
  std::size_t i = 0;
  std::size_t o = 0;
  for (; i + 48 <= n; i += 48, o += 64) {
    const uint8x16x3_t b = vld3q_u8(in + i);  // byte 0, 1 and 2 of 16 groups
    uint8x16x4_t c;
    c.val[0] = vshrq_n_u8(b.val[0], 2);
    c.val[1] = vandq_u8(vorrq_u8(vshlq_n_u8(b.val[0], 4), vshrq_n_u8(b.val[1], 4)),
                        vdupq_n_u8(0x3F));
    c.val[2] = vandq_u8(vorrq_u8(vshlq_n_u8(b.val[1], 2), vshrq_n_u8(b.val[2], 6)),
                        vdupq_n_u8(0x3F));
    c.val[3] = vandq_u8(b.val[2], vdupq_n_u8(0x3F));
    for (auto& lane : c.val) lane = chars_of(lane);
    vst4q_u8(out + o, c);
  }
  return {i, o};
}

CLIENT_NEON progress decode_blocks_neon(const std::uint8_t* in, std::size_t n,
                                        std::uint8_t* out,
                                        std::size_t out_size) noexcept {
  std::size_t i = 0;
  std::size_t o = 0;
  for (; i + 64 <= n && o + 48 <= out_size; i += 64, o += 48) {
    const uint8x16x4_t c = vld4q_u8(in + i);  // character 0, 1, 2 and 3 of 16 groups
    uint8x16_t bad = vdupq_n_u8(0);
    const uint8x16_t v0 = values_of(c.val[0], &bad);
    const uint8x16_t v1 = values_of(c.val[1], &bad);
    const uint8x16_t v2 = values_of(c.val[2], &bad);
    const uint8x16_t v3 = values_of(c.val[3], &bad);
    if (any_set(bad)) break;
    uint8x16x3_t b;
    b.val[0] = vorrq_u8(vshlq_n_u8(v0, 2), vshrq_n_u8(v1, 4));
    b.val[1] = vorrq_u8(vshlq_n_u8(v1, 4), vshrq_n_u8(v2, 2));
    b.val[2] = vorrq_u8(vshlq_n_u8(v2, 6), v3);
    vst3q_u8(out + o, b);
  }
  return {i, o};
}

}  // namespace b64

#undef CLIENT_NEON
#endif  // CLIENT_B64_ARM
