// libFuzzer target for the base64 core: for any input the library must decode and
// encode exactly as the model of b64_model.h does, keep the length rules, and decode its
// own encoding back to the input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../../../src/b64.h"
#include "../b64_model.h"

namespace {

using model::bytes;

// The library as the R routines see it: the only code here that knows the core's
// interface.

// The encoding of in[0, n), as tarnwick_base64_encode returns it.
bytes library_encode(const std::uint8_t* in, std::size_t n) {
  bytes out(b64::encoded_length(n));
  b64::encode(in, n, out.data());
  return out;
}

// The decoding of in[0, n), as tarnwick_base64_decode returns it: the library's own
// steps (b64::decode_as_routine), each block exactly as long as asked, so that a write
// past one is caught; the result is the last.
bytes library_decode(const std::uint8_t* in, std::size_t n) {
  std::vector<bytes> blocks;
  b64::decode_as_routine(in, n, [&](std::size_t size) {
    blocks.emplace_back(size);
    return blocks.back().data();
  });
  return blocks.back();
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
    if (model::value_of(text[i]) < 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Decoding: the input read as base64 text.
  const bytes decoded = library_decode(data, size);
  require(decoded == model::decode(data, size));
  require(decoded.size() <= 3 * (size / 4));

  // Encoding: the input read as bytes, then decoded back.
  const bytes text = library_encode(data, size);
  require(text.size() == 4 * ((size + 2) / 3));
  require(text == model::encode(data, size));
  require(well_formed_text(text));
  const bytes round_trip = library_decode(text.data(), text.size());
  require(round_trip == bytes(data, data + size));
  return 0;
}
