// libFuzzer harness for the base64 core, checked against a byte-at-a-time model.
//
// The model below follows the encoding and decoding steps one input byte at a time,
// with every output byte it does not write left zero. For any input the library must
// decode exactly as the model does, encode exactly as the model does, keep the length
// rules, and decode its own encoding back to the input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../../src/b64.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// ---- The library, seen as the R routines see it --------------------------------------
// The only code that knows the core's interface: adapt these two after API changes.

// The encoding of in[0, n), as tarnwick_base64_encode returns it.
bytes library_encode(const std::uint8_t* in, std::size_t n) {
  bytes out(b64::encoded_length(n));
  b64::encode(in, n, out.data());
  return out;
}

// The decoding of in[0, n), as tarnwick_base64_decode returns it: first into a buffer
// of exactly the length the padding announces (so that a write past it is caught),
// then, when the walk ends anywhere else, the zeroed provisional vector for a length
// that is not a multiple of 4 or for a bad byte, otherwise exactly the completed bytes.
bytes library_decode(const std::uint8_t* in, std::size_t n) {
  if (n % 4 == 0) {
    const std::size_t expected = b64::padded_length(in, n);
    bytes exact(expected);
    const b64::decode_result result = b64::decode(in, n, exact.data(), expected);
    if (!result.malformed && result.length == expected) return exact;
  }
  bytes out(b64::decoded_capacity(n), 0);
  if (n % 4 != 0) return out;
  const b64::decode_result result = b64::decode(in, n, out.data());
  if (!result.malformed) out.resize(result.length);
  return out;
}

// ---- The model -------------------------------------------------------------------------

constexpr char model_alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The alphabet position of c, or -1 for "=", bytes of 128 or more and anything else.
int model_value(std::uint8_t c) {
  for (int v = 0; v < 64; ++v) {
    if (static_cast<std::uint8_t>(model_alphabet[v]) == c) return v;
  }
  return -1;
}

bytes model_encode(const std::uint8_t* in, std::size_t n) {
  bytes out;
  int step = 0;
  unsigned previous = 0;
  auto emit = [&out](unsigned index) { out.push_back(model_alphabet[index]); };
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

bytes model_decode(const std::uint8_t* in, std::size_t n) {
  bytes provisional(3 * (n / 4), 0);
  if (n % 4 != 0) return provisional;
  std::size_t j = 0;
  for (std::size_t i = 0; i < n && in[i] != '='; ++i) {
    const int v = model_value(in[i]);
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
  if (j < provisional.size()) provisional.resize(j);
  return provisional;
}

// Stops the run at the first disagreement, so libFuzzer keeps the input as a finding.
void require(bool holds) {
  if (!holds) __builtin_trap();
}

// At most two "=", all at the end, and nothing but alphabet characters before them.
bool well_formed_text(const bytes& text) {
  std::size_t pads = 0;
  while (pads < text.size() && text[text.size() - 1 - pads] == '=') ++pads;
  if (pads > 2) return false;
  for (std::size_t i = 0; i + pads < text.size(); ++i) {
    if (model_value(text[i]) < 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Decoding: the input read as base64 text.
  const bytes decoded = library_decode(data, size);
  require(decoded == model_decode(data, size));
  require(decoded.size() <= 3 * (size / 4));

  // Encoding: the input read as bytes, then decoded back.
  const bytes text = library_encode(data, size);
  require(text.size() == 4 * ((size + 2) / 3));
  require(text == model_encode(data, size));
  require(well_formed_text(text));
  const bytes round_trip = library_decode(text.data(), text.size());
  require(round_trip == bytes(data, data + size));
  return 0;
}
