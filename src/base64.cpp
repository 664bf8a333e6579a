// The .Call glue of the base64 codec: size, allocate, run the core, return.
#include <cstdint>
#include <cstring>

#include <sys/mman.h>

#include "b64.h"
#include "errors.h"
#include "raw_vector.h"
#include "routines.h"

namespace {

// The file name that located errors carry.
constexpr char source_name[] = "base64";

// The unit of the advice below: a transparent huge page of x86-64 and of ARM with 4 KiB
// pages. It is also the threshold: a shorter vector cannot hold a whole one. Measured
// in an R process, a fresh 3 MiB result is written a quarter faster with the advice and
// a 64 MiB one four times faster; where the heap hands out memory it has touched
// before, the call costs about 4 us, 1 to 2% of encoding 4 MiB.
constexpr std::uintptr_t huge_page_size = std::uintptr_t{2} << 20;

}  // namespace

// Asks the kernel to back the whole huge pages inside the new vector with huge pages
// before the first write: a fresh vector otherwise costs a page fault per 4 KiB, more
// than the codec spends on it. Only memory inside the vector is named. The advice
// changes no byte, and a refusal (no transparent huge pages, or turned off) is ignored:
// only speed depends on it.
SEXP new_raw_vector(R_xlen_t length) {
  SEXP vector = Rf_allocVector(RAWSXP, length);
#if defined(MADV_HUGEPAGE) && !defined(CLIENT_NO_HUGEPAGE_ADVICE)
  const auto size = static_cast<std::uintptr_t>(length);
  if (size < huge_page_size) return vector;
  const auto begin = reinterpret_cast<std::uintptr_t>(RAW(vector));
  const std::uintptr_t first = (begin + huge_page_size - 1) & ~(huge_page_size - 1);
  const std::uintptr_t last = (begin + size) & ~(huge_page_size - 1);
  if (first < last) {
    static_cast<void>(
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE));
  }
#endif
  return vector;
}

extern "C" {

SEXP tarnwick_base64_encode(SEXP data) {
  const Rbyte* in = RAW(data);
  const R_xlen_t n_in = XLENGTH(data);
  const std::uint64_t n_out = b64::encoded_length(static_cast<std::uint64_t>(n_in));
  if (n_out > static_cast<std::uint64_t>(R_XLEN_T_MAX)) {
    RAISE_ERROR(__func__,
                "Cannot encode %.0f bytes: the text would exceed the longest raw vector",
                static_cast<double>(n_in));
  }
  SEXP out = PROTECT(new_raw_vector(static_cast<R_xlen_t>(n_out)));
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
  SEXP out = PROTECT(new_raw_vector(capacity));
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
  SEXP exact = PROTECT(new_raw_vector(static_cast<R_xlen_t>(result.length)));
  std::memcpy(RAW(exact), RAW(out), result.length);
  UNPROTECT(2);
  return exact;
}

}  // namespace

extern "C" {

// Well-formed text takes one allocation: the length its padding announces. Any other
// ending of the walk (an early "=", a bad byte) starts over the long way.
SEXP tarnwick_base64_decode(SEXP text) {
  const Rbyte* in = RAW(text);
  const R_xlen_t n_in = XLENGTH(text);
  if (n_in % 4 != 0) return decode_provisional(in, n_in);
  const std::size_t expected = b64::padded_length(in, static_cast<std::size_t>(n_in));
  SEXP out = PROTECT(new_raw_vector(static_cast<R_xlen_t>(expected)));
  const b64::decode_result result =
      b64::decode(in, static_cast<std::size_t>(n_in), RAW(out), expected);
  UNPROTECT(1);
  if (!result.malformed && result.length == expected) return out;
  return decode_provisional(in, n_in);
}

}  // extern "C"
