// The base64 alphabets and the tables that map characters back to their values: the one
// place that says which byte is which character.
#ifndef CLIENT_B64_ALPHABET_H
#define CLIENT_B64_ALPHABET_H

#include <array>
#include <cstdint>

namespace b64 {

inline constexpr char alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// The URL-safe alphabet differs in its last two characters.
inline constexpr char url_alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
inline constexpr std::uint8_t padding = '=';
inline constexpr std::uint8_t not_base64 = 255;

// Character codes 0 to 127 to their position in `letters`, `outside` for the others.
constexpr std::array<std::uint8_t, 128> ascii_values(const char* letters,
                                                     std::uint8_t outside) {
  std::array<std::uint8_t, 128> table{};
  for (auto& entry : table) entry = outside;
  for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(letters[i])] = i;
  return table;
}

// Every byte to its position in `letters`, or not_base64 ("=" and bytes >= 128 too).
constexpr std::array<std::uint8_t, 256> byte_values(const char* letters) {
  std::array<std::uint8_t, 256> table{};
  const auto ascii = ascii_values(letters, not_base64);
  for (std::size_t c = 0; c < table.size(); ++c)
    table[c] = c < 128 ? ascii[c] : not_base64;
  return table;
}

inline constexpr auto reverse_table = byte_values(alphabet);
inline constexpr auto url_reverse_table = byte_values(url_alphabet);
static_assert(reverse_table['A'] == 0 && reverse_table['/'] == 63);
static_assert(reverse_table['='] == not_base64 && reverse_table[0x80] == not_base64);
static_assert(url_reverse_table['_'] == 63 && url_reverse_table['+'] == not_base64);

}  // namespace b64

#endif  // CLIENT_B64_ALPHABET_H
