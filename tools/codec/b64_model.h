// A model of the base64 routines, one character at a time, for the codec harness and
// the fuzz targets: what tarnwick_base64_encode and tarnwick_base64_decode return, and
// base64 text with options (URL-safe alphabet, padding, lines) and its strict decoding.
#ifndef CLIENT_B64_MODEL_H
#define CLIENT_B64_MODEL_H

#include <cstddef>
#include <cstdint>
#include <string>
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

// ---- Text with options ----

// The URL-safe alphabet: the standard one with "-" and "_" in place of "+" and "/".
constexpr char url_alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// The position of c in the standard or the URL-safe alphabet, or -1 if it is not there.
inline int text_value_of(std::uint8_t c, bool url) {
  const char* chosen = url ? url_alphabet : alphabet;
  for (int v = 0; v < 64; ++v) {
    if (static_cast<std::uint8_t>(chosen[v]) == c) return v;
  }
  return -1;
}

// The text of in: standard base64, "-" and "_" for "+" and "/" with url, the final "="
// dropped without pad, and with width > 0 cut into lines of width characters, eol
// between two lines and, with final_eol, after the last one.
inline bytes encode_text(const bytes& in, bool url, bool pad, std::size_t width,
                         const std::string& eol, bool final_eol) {
  bytes characters;
  for (std::uint8_t c : encode(in)) {
    if (c == '=' && !pad) continue;
    if (url && c == '+') c = '-';
    if (url && c == '/') c = '_';
    characters.push_back(c);
  }
  if (width == 0) return characters;
  bytes text;
  for (std::size_t i = 0; i < characters.size(); ++i) {
    if (i > 0 && i % width == 0) text.insert(text.end(), eol.begin(), eol.end());
    text.push_back(characters[i]);
  }
  // A text without characters has no line at all, so no line end either.
  if (final_eol && !characters.empty()) text.insert(text.end(), eol.begin(), eol.end());
  return text;
}

enum class fault { none, bad_byte, misplaced_pad, bad_length, length_one_more };

// What a text decodes to: its bytes, or its first fault. offset and byte are set for
// byte faults only, characters for length faults only; the others stay 0.
struct decoded_text {
  fault kind = fault::none;
  std::uint64_t offset = 0;
  std::uint8_t byte = 0;
  std::uint64_t characters = 0;
  bytes data;
};

// Whether c is a line feed or a carriage return, the bytes that breaks skips.
inline bool is_line_end(std::uint8_t c) { return c == '\n' || c == '\r'; }

// Whether the "=" at text[at] starts the padding: a run of at most two "=" that ends
// the text, line ends in between skipped with breaks.
inline bool starts_padding(const bytes& text, std::size_t at, bool breaks) {
  int pads = 0;
  for (std::size_t i = at; i < text.size(); ++i) {
    if (text[i] == '=') {
      ++pads;
    } else if (!(breaks && is_line_end(text[i]))) {
      return false;
    }
  }
  return pads <= 2;
}

// The number of "=" in text[from, end).
inline std::uint64_t pads_from(const bytes& text, std::size_t from) {
  std::uint64_t pads = 0;
  for (std::size_t i = from; i < text.size(); ++i) pads += text[i] == '=';
  return pads;
}

// The bytes of a run of alphabet values, six bits each: a byte out as soon as eight
// bits are in; the low bits of a last character that make no whole byte are dropped.
inline bytes bytes_of(const std::vector<int>& values) {
  bytes out;
  unsigned held_bits = 0;
  int held_count = 0;
  for (int v : values) {
    held_bits = ((held_bits << 6) | static_cast<unsigned>(v)) & 0xFFF;
    held_count += 6;
    if (held_count >= 8) {
      held_count -= 8;
      out.push_back(static_cast<std::uint8_t>(held_bits >> held_count));
    }
  }
  return out;
}

// Decodes text strictly: the first byte that is neither a data character nor (with
// breaks) a line end is the fault unless it starts the padding; then the count of
// characters (data and "=") must fit the padding, or with url and none, be a multiple
// of 4 plus 0, 2 or 3.
inline decoded_text decode_text(const bytes& text, bool url, bool breaks) {
  decoded_text result;
  std::vector<int> values;
  std::uint64_t pads = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint8_t c = text[i];
    if (breaks && is_line_end(c)) continue;
    const int v = text_value_of(c, url);
    if (v >= 0) {
      values.push_back(v);
      continue;
    }
    if (c == '=' && starts_padding(text, i, breaks)) {
      pads = pads_from(text, i);
      break;
    }
    result.kind = c == '=' ? fault::misplaced_pad : fault::bad_byte;
    result.offset = i;
    result.byte = c;
    return result;
  }
  const std::uint64_t characters = values.size() + pads;
  if ((pads > 0 || !url) && characters % 4 != 0) {
    result.kind = fault::bad_length;
    result.characters = characters;
    return result;
  }
  if (url && pads == 0 && characters % 4 == 1) {
    result.kind = fault::length_one_more;
    result.characters = characters;
    return result;
  }
  result.data = bytes_of(values);
  return result;
}

}  // namespace model

#endif  // CLIENT_B64_MODEL_H
