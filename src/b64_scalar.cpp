// The reference base64 codec: every edge case of the format is decided here.
#include <array>

#include "b64.h"

namespace b64 {
namespace {

constexpr char alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t not_base64 = 255;
constexpr std::uint8_t padding = '=';

// Indexed by any byte: the alphabet position, or not_base64 ("=" and bytes >= 128 too).
constexpr auto reverse_table = [] {
  std::array<std::uint8_t, 256> table{};
  for (auto& entry : table) entry = not_base64;
  for (std::uint8_t i = 0; i < 64; ++i)
    table[static_cast<unsigned char>(alphabet[i])] = i;
  return table;
}();
static_assert(reverse_table['A'] == 0 && reverse_table['/'] == 63);
static_assert(reverse_table['='] == not_base64 && reverse_table[0x80] == not_base64);

}  // namespace

void encode(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3, out += 4) {
    const std::uint32_t group =
        (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
    out[0] = alphabet[group >> 18];
    out[1] = alphabet[(group >> 12) & 0x3F];
    out[2] = alphabet[(group >> 6) & 0x3F];
    out[3] = alphabet[group & 0x3F];
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

decode_result decode(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
  std::size_t j = 0;
  for (std::size_t i = 0; i < n && in[i] != padding; ++i) {
    const std::uint8_t v = reverse_table[in[i]];
    if (v == not_base64) return {j, true};
    // Each character adds six bits; a byte is counted once all eight are in.
    switch (i % 4) {
      case 0:
        out[j] = static_cast<std::uint8_t>(v << 2);
        break;
      case 1:
        out[j++] |= v >> 4;
        out[j] = static_cast<std::uint8_t>(v << 4);
        break;
      case 2:
        out[j++] |= v >> 2;
        out[j] = static_cast<std::uint8_t>(v << 6);
        break;
      default:
        out[j++] |= v;
        break;
    }
  }
  return {j, false};
}

}  // namespace b64
