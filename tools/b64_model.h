// A model of the base64 routines, one character at a time, for the codec harness and
// the fuzz target: what tarnwick_base64_encode and tarnwick_base64_decode return.
#ifndef CLIENT_B64_MODEL_H
#define CLIENT_B64_MODEL_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace model {

using bytes = std::vector<std::uint8_t>;

constexpr char alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The alphabet position of c, or -1 for "=", bytes of 128 or more and anything else.
inline int value_of(std::uint8_t c) {
  for (int v = 0; v < 64; ++v) {
    if (static_cast<std::uint8_t>(alphabet[v]) == c) return v;
  }
  return -1;
}

// The encoding of in[0, n): a character per six bits, then "=" to a multiple of four.
inline bytes encode(const std::uint8_t* in, std::size_t n) {
  bytes out;
  int step = 0;
  unsigned previous = 0;
  auto emit = [&out](unsigned index) { out.push_back(alphabet[index]); };
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned x = in[i];
    if (step == 0) {
      emit(x >> 2);
      step = 1;
    } else if (step == 1) {
      emit(((previous << 4) & 0x30) | (x >> 4));
      step = 2;
    } else {
      emit(((previous << 2) & 0x3C) | (x >> 6));
      emit(x & 0x3F);
      step = 0;
    }
    previous = x;
  }
  if (step == 1) {
    emit((previous << 4) & 0x30);
    out.push_back('=');
    out.push_back('=');
  } else if (step == 2) {
    emit((previous << 2) & 0x3C);
    out.push_back('=');
  }
  return out;
}

// The decoding of in[0, n) as the routine returns it: the walk stops at the first "=";
// a length that is not a multiple of 4, or a byte outside the alphabet before any "=",
// gives the provisional vector of 3 bytes a group, zero where the walk wrote nothing.
inline bytes decode(const std::uint8_t* in, std::size_t n) {
  bytes provisional(3 * (n / 4), 0);
  if (n % 4 != 0) return provisional;
  std::size_t j = 0;
  for (std::size_t i = 0; i < n && in[i] != '='; ++i) {
    const int v = value_of(in[i]);
    if (v < 0) return provisional;
    switch (i % 4) {
      case 0:
        provisional[j] = static_cast<std::uint8_t>(v << 2);
        break;
      case 1:
        provisional[j] |= (v >> 4) & 0x03;
        ++j;
        provisional[j] = static_cast<std::uint8_t>(v << 4);
        break;
      case 2:
        provisional[j] |= (v >> 2) & 0x0F;
        ++j;
        provisional[j] = static_cast<std::uint8_t>(v << 6);
        break;
      default:
        provisional[j] |= v;
        ++j;
        break;
    }
  }
  provisional.resize(j);
  return provisional;
}

inline bytes encode(const bytes& in) { return encode(in.data(), in.size()); }
inline bytes decode(const bytes& in) { return decode(in.data(), in.size()); }

}  // namespace model

#endif  // CLIENT_B64_MODEL_H
