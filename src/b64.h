// Base64 codec core: byte spans in, byte spans out. No R, no allocation, no exceptions.
#ifndef CLIENT_B64_H
#define CLIENT_B64_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace b64 {

// Length of the encoding of n bytes: four characters per started group of three.
// Callers check it against their own limits; it does not overflow for n < 2^62.
constexpr std::uint64_t encoded_length(std::uint64_t n) noexcept {
  return 4 * (n / 3 + (n % 3 != 0));
}

// Room that decode() may write into for a text of n bytes: three per group of four.
constexpr std::uint64_t decoded_capacity(std::uint64_t n) noexcept { return 3 * (n / 4); }

// The decoded length of in[0, n), n a multiple of 4, if the text is well formed: the
// capacity less one byte per "=" among its last two bytes. Reads only those two bytes,
// so the walk of decode() has the final say.
std::size_t padded_length(const std::uint8_t* in, std::size_t n) noexcept;

// Writes the encoding of in[0, n) to out[0, encoded_length(n)).
void encode(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept;

struct decode_result {
  std::size_t length;  // bytes completed before the walk ended
  bool malformed;      // the walk met a byte outside the alphabet before any "="
};

// Decodes in[0, n), n a multiple of 4, into out[0, decoded_capacity(n)). The walk ends
// at the first "=" or the first byte outside the alphabet; nothing after it counts.
// On a bad byte, out[length] may hold the bits already decoded from its group. Other
// bytes past length may be written with zeros, so a zeroed out ends exactly as the
// character-by-character walk leaves it.
decode_result decode(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept;

// The same walk into out[0, out_size), for in[0, n) of any length: a last group of two
// or three characters gives the one or two bytes it completes, as the walk counts them
// (the text decoder ends a text so). Bytes it would put at or past out_size are
// dropped, and a length above out_size counts them. With out_size = padded_length(in,
// n), well-formed padded text decodes without a spare byte (the walk's partial byte
// after a final "YQ" or "YWI" falls outside); a result that is malformed or whose
// length differs from out_size must be decoded again into a full-capacity buffer.
decode_result decode(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                     std::size_t out_size) noexcept;

// What tarnwick_base64_decode returns for in[0, n), in the blocks that allocate(size)
// gives: the result is always the last block asked for. Well-formed text takes one, of
// the length its padding announces. Any other ending of the walk (an early "=", a bad
// byte, a length that is not a multiple of 4) starts over the long way, in a zeroed
// block of the full capacity: that is the result for malformed text and for a length
// that is not a multiple of 4; otherwise the completed bytes are copied into a last,
// exact block. walk(in, n, out, out_size) is decode() or, for the harness, the same
// walk over a chosen kernel. allocate() may leave by longjmp: nothing here needs
// cleaning up.
template <typename Allocate, typename Walk>
void decode_as_routine(const std::uint8_t* in, std::size_t n, Allocate&& allocate,
                       Walk&& walk) {
  if (n % 4 == 0) {
    const std::size_t expected = padded_length(in, n);
    const decode_result result = walk(in, n, allocate(expected), expected);
    if (!result.malformed && result.length == expected) return;
  }
  const auto capacity = static_cast<std::size_t>(decoded_capacity(n));
  std::uint8_t* full = allocate(capacity);
  // The walk leaves unwritten what it does not reach, and this block may be the result.
  // An empty block may have no address, which memset() and memcpy() must not get.
  if (capacity > 0) std::memset(full, 0, capacity);
  if (n % 4 != 0) return;
  const decode_result result = walk(in, n, full, capacity);
  if (result.malformed || result.length == capacity) return;
  std::uint8_t* exact = allocate(result.length);
  if (result.length > 0) std::memcpy(exact, full, result.length);
}

template <typename Allocate>
void decode_as_routine(const std::uint8_t* in, std::size_t n, Allocate&& allocate) {
  decode_as_routine(
      in, n, allocate,
      [](const std::uint8_t* text, std::size_t size, std::uint8_t* out,
         std::size_t out_size) { return decode(text, size, out, out_size); });
}

}  // namespace b64

#endif  // CLIENT_B64_H
