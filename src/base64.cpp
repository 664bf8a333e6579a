// The .Call glue of the base64 codec: size, allocate, run the core, return.
#include <cstdint>
#include <cstring>

#define R_NO_REMAP
#include <R_ext/Visibility.h>
#include <Rinternals.h>

#include "b64.h"
#include "errors.h"

extern "C" {

attribute_visible SEXP tarnwick_base64_encode(SEXP data) {
  const Rbyte* in = RAW(data);
  const R_xlen_t n_in = XLENGTH(data);
  const std::uint64_t n_out = b64::encoded_length(static_cast<std::uint64_t>(n_in));
  if (n_out > static_cast<std::uint64_t>(R_XLEN_T_MAX)) {
    r_throw_error(__func__, "base64", __LINE__,
                  "Cannot encode %.0f bytes: the text would exceed the longest raw "
                  "vector",
                  static_cast<double>(n_in));
  }
  SEXP out = PROTECT(Rf_allocVector(RAWSXP, static_cast<R_xlen_t>(n_out)));
  b64::encode(in, static_cast<std::size_t>(n_in), RAW(out));
  UNPROTECT(1);
  return out;
}

}  // extern "C"

namespace {

// Decodes text the long way, into a zeroed vector of the full capacity: returned as it
// is when the text is malformed or fills it, else its first bytes in an exact copy.
SEXP decode_provisional(const Rbyte* in, R_xlen_t n_in) {
  const auto capacity = static_cast<R_xlen_t>(b64::decoded_capacity(n_in));
  SEXP out = PROTECT(Rf_allocVector(RAWSXP, capacity));
  // Malformed text comes back in this vector as far as it was decoded: the bytes
  // the walk does not reach must not be left as whatever the allocator held.
  std::memset(RAW(out), 0, static_cast<std::size_t>(capacity));
  if (n_in % 4 != 0) {
    UNPROTECT(1);
    return out;
  }
  const b64::decode_result result =
      b64::decode(in, static_cast<std::size_t>(n_in), RAW(out));
  if (result.malformed || static_cast<R_xlen_t>(result.length) == capacity) {
    UNPROTECT(1);
    return out;
  }
  SEXP exact = PROTECT(Rf_allocVector(RAWSXP, static_cast<R_xlen_t>(result.length)));
  std::memcpy(RAW(exact), RAW(out), result.length);
  UNPROTECT(2);
  return exact;
}

}  // namespace

extern "C" {

// Well-formed text takes one allocation: the length its padding announces. Any other
// ending of the walk (an early "=", a bad byte) starts over the long way.
attribute_visible SEXP tarnwick_base64_decode(SEXP text) {
  const Rbyte* in = RAW(text);
  const R_xlen_t n_in = XLENGTH(text);
  if (n_in % 4 != 0) return decode_provisional(in, n_in);
  const std::size_t expected = b64::padded_length(in, static_cast<std::size_t>(n_in));
  SEXP out = PROTECT(Rf_allocVector(RAWSXP, static_cast<R_xlen_t>(expected)));
  const b64::decode_result result =
      b64::decode(in, static_cast<std::size_t>(n_in), RAW(out), expected);
  UNPROTECT(1);
  if (!result.malformed && result.length == expected) return out;
  return decode_provisional(in, n_in);
}

}  // extern "C"
