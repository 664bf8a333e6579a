// The reference base64 codec: every edge case of the format is decided here.
#include <algorithm>
#include <array>
#include <cstring>

#include "b64_alphabet.h"
#include "b64_kernels.h"

namespace b64 {
namespace {

// The two characters of every 12-bit value, so a group of three bytes takes two lookups.
struct char_pair {
  std::uint8_t c[2];
};
constexpr auto pair_table = [] {
  std::array<char_pair, 4096> table{};
  for (std::size_t v = 0; v < table.size(); ++v) {
    table[v].c[0] = static_cast<std::uint8_t>(alphabet[v >> 6]);
    table[v].c[1] = static_cast<std::uint8_t>(alphabet[v & 0x3F]);
  }
  return table;
}();
static_assert(pair_table[0xFFF].c[0] == '/' && pair_table[0x041].c[1] == 'B');

// A character's six bits already shifted to its place in a 24-bit group (shift 18, 12,
// 6 or 0); a byte outside the alphabet sets bit 24 instead, so OR-ing the four entries
// of a group and testing that bit checks the whole group at once.
constexpr std::uint32_t bad_group_bit = 1u << 24;
constexpr auto shifted_table(int shift) {
  std::array<std::uint32_t, 256> table{};
  for (std::size_t c = 0; c < table.size(); ++c)
    table[c] = reverse_table[c] == not_base64
                   ? bad_group_bit
                   : static_cast<std::uint32_t>(reverse_table[c]) << shift;
  return table;
}
constexpr auto first_chars = shifted_table(18);
constexpr auto second_chars = shifted_table(12);
constexpr auto third_chars = shifted_table(6);
constexpr auto fourth_chars = shifted_table(0);

// Reads eight bytes as a big-endian number: one load, and a byte swap where needed.
inline std::uint64_t load_be64(const std::uint8_t* p) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

// Writes the low 24 bits of a group big-endian to p[0, 3) and zero to p[3]: one store.
inline void store_group4(std::uint8_t* p, std::uint32_t group) noexcept {
  std::uint32_t v = group << 8;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  std::memcpy(p, &v, sizeof v);
}

// Writes the low 24 bits of a group big-endian to p[0, 3).
inline void store_group3(std::uint8_t* p, std::uint32_t group) noexcept {
  p[0] = static_cast<std::uint8_t>(group >> 16);
  p[1] = static_cast<std::uint8_t>(group >> 8);
  p[2] = static_cast<std::uint8_t>(group);
}

// Looks up a group of four characters: its 24 bits, or bad_group_bit set when any of
// them is outside the alphabet ("=" included).
inline std::uint32_t group_bits(const std::uint8_t* p) noexcept {
  return first_chars[p[0]] | second_chars[p[1]] | third_chars[p[2]] | fourth_chars[p[3]];
}

// The character-by-character walk from in[i] (i at a group start) with j bytes done;
// every write is kept inside out[0, out_size). Decides "=", bad bytes and partial bytes.
decode_result walk_chars(const std::uint8_t* in, std::size_t n, std::size_t i,
                         std::uint8_t* out, std::size_t j,
                         std::size_t out_size) noexcept {
  for (; i < n && in[i] != padding; ++i) {
    const std::uint8_t v = reverse_table[in[i]];
    if (v == not_base64) return {j, true};
    // Each character adds six bits; a byte is counted once all eight are in.
    switch (i % 4) {
      case 0:
        if (j < out_size) out[j] = static_cast<std::uint8_t>(v << 2);
        break;
      case 1:
        if (j < out_size) out[j] |= v >> 4;
        if (++j < out_size) out[j] = static_cast<std::uint8_t>(v << 4);
        break;
      case 2:
        if (j < out_size) out[j] |= v >> 2;
        if (++j < out_size) out[j] = static_cast<std::uint8_t>(v << 6);
        break;
      default:
        if (j < out_size) out[j] |= v;
        ++j;
        break;
    }
  }
  return {j, false};
}

}  // namespace

std::size_t padded_length(const std::uint8_t* in, std::size_t n) noexcept {
  const auto capacity = static_cast<std::size_t>(decoded_capacity(n));
  if (n < 4 || in[n - 1] != padding) return capacity;
  return capacity - (in[n - 2] == padding ? 2 : 1);
}

void encode_scalar(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
  std::size_t i = 0;
  // Two groups per eight-byte load; the two bytes past them are read, not used.
  for (; i + 8 <= n; i += 6, out += 8) {
    const std::uint64_t bits = load_be64(in + i);
    std::memcpy(out, &pair_table[bits >> 52], 2);
    std::memcpy(out + 2, &pair_table[(bits >> 40) & 0xFFF], 2);
    std::memcpy(out + 4, &pair_table[(bits >> 28) & 0xFFF], 2);
    std::memcpy(out + 6, &pair_table[(bits >> 16) & 0xFFF], 2);
  }
  for (; i + 3 <= n; i += 3, out += 4) {
    const std::uint32_t group =
        (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
    std::memcpy(out, &pair_table[group >> 12], 2);
    std::memcpy(out + 2, &pair_table[group & 0xFFF], 2);
  }
  const std::size_t rest = n - i;
  if (rest == 1) {
    out[0] = alphabet[in[i] >> 2];
    out[1] = alphabet[(in[i] << 4) & 0x30];
    out[2] = padding;
    out[3] = padding;
  } else if (rest == 2) {
    out[0] = alphabet[in[i] >> 2];
    out[1] = alphabet[((in[i] << 4) & 0x30) | (in[i + 1] >> 4)];
    out[2] = alphabet[(in[i + 1] << 2) & 0x3C];
    out[3] = padding;
  }
}

decode_result decode_scalar(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                            std::size_t out_size) noexcept {
  // Whole groups of alphabet characters while a four-byte store fits; the first group
  // that holds anything else goes to the walk, which ends inside it or at the tail.
  const std::size_t wide_groups =
      std::min(n / 4, out_size >= 4 ? (out_size - 4) / 3 + 1 : 0);
  std::size_t g = 0;
  for (; g < wide_groups; ++g) {
    const std::uint32_t group = group_bits(in + 4 * g);
    if (group & bad_group_bit) break;
    store_group4(out + 3 * g, group);  // out[3g + 3] is rewritten by the next group
  }
  std::size_t i = 4 * g;
  std::size_t j = 3 * g;
  if (i + 4 <= n && j + 3 <= out_size) {
    const std::uint32_t group = group_bits(in + i);
    if (!(group & bad_group_bit)) {
      store_group3(out + j, group);
      i += 4;
      j += 3;
    }
  }
  return walk_chars(in, n, i, out, j, out_size);
}

}  // namespace b64
