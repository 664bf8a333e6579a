// The .Call glue of base64 with options: a raw vector, a string or a character vector
// in; the text or the bytes out in one pass, or a report of the first offending byte.
// An argument that is not in its plain form gives NULL, and R says what is wrong.
#include <climits>
#include <cstdint>
#include <cstring>

#include "b64_text.h"
#include "base64_glue.h"
#include "errors.h"
#include "raw_vector.h"
#include "routines.h"

namespace {

// The file name that located errors carry.
constexpr char source_name[] = "base64_options";

// The longest string R holds.
constexpr std::uint64_t max_string = INT_MAX;

// Strings up to this long are built on the stack: a short call then allocates nothing
// but its result, and at 1 KiB a call costs little more than its allocations.
constexpr std::size_t stack_string = 16384;

// A string of the bytes in[0, n), marked in no encoding. A NUL byte, which no string
// can hold, must be refused before.
SEXP string_of(const std::uint8_t* in, std::uint64_t n, const char* routine) {
  if (n > max_string) {
    RAISE_ERROR(routine, "Cannot make a string of %.0f bytes: the longest holds %d",
                static_cast<double>(n), INT_MAX);
  }
  return Rf_mkCharLenCE(reinterpret_cast<const char*>(in), static_cast<int>(n),
                        CE_NATIVE);
}

// The largest result_size(n) over the lengths n of the elements of the character vector
// x that are not NA: how much room the results of one call need at most.
template <typename ResultSize>
std::uint64_t largest_result(SEXP x, ResultSize&& result_size) {
  std::uint64_t largest = 0;
  for (R_xlen_t i = 0; i < XLENGTH(x); ++i) {
    SEXP value = STRING_ELT(x, i);
    if (value == NA_STRING) continue;
    const std::uint64_t size = result_size(static_cast<std::uint64_t>(Rf_xlength(value)));
    if (size > largest) largest = size;
  }
  return largest;
}

bool holds_nul(const std::uint8_t* bytes, std::uint64_t n) {
  return n > 0 && std::memchr(bytes, 0, static_cast<std::size_t>(n)) != nullptr;
}

// The text of in[0, n) as a raw vector, or as one string when `string`.
SEXP encode_one(const std::uint8_t* in, std::size_t n, const b64::text_format& format,
                bool string, const char* routine) {
  const std::uint64_t length = b64::text_length(n, format);
  if (length > static_cast<std::uint64_t>(R_XLEN_T_MAX)) {
    RAISE_ERROR(routine,
                "Cannot encode %.0f bytes: the text would exceed the longest raw vector",
                static_cast<double>(n));
  }
  if (!string) {
    SEXP out = PROTECT(new_raw_vector(static_cast<R_xlen_t>(length)));
    b64::encode_text(in, n, RAW(out), format);
    UNPROTECT(1);
    return out;
  }
  std::uint8_t small[stack_string];
  SEXP large = R_NilValue;
  std::uint8_t* text = small;
  if (length > stack_string) {
    large = new_raw_vector(static_cast<R_xlen_t>(length));
    text = RAW(large);
  }
  PROTECT(large);
  b64::encode_text(in, n, text, format);
  SEXP out = Rf_ScalarString(string_of(text, length, routine));
  UNPROTECT(1);
  return out;
}

// Each element of the character vector x encoded on its own; NA stays NA.
SEXP encode_each(SEXP x, const b64::text_format& format, const char* routine) {
  const R_xlen_t n = XLENGTH(x);
  const std::uint64_t longest =
      largest_result(x, [&](std::uint64_t k) { return b64::text_length(k, format); });
  if (longest > max_string) {
    RAISE_ERROR(routine, "Cannot make a string of %.0f bytes: the longest holds %d",
                static_cast<double>(longest), INT_MAX);
  }
  auto* text = reinterpret_cast<std::uint8_t*>(R_alloc(longest, 1));
  SEXP out = PROTECT(Rf_allocVector(STRSXP, n));
  for (R_xlen_t i = 0; i < n; ++i) {
    SEXP value = STRING_ELT(x, i);
    if (value == NA_STRING) {
      SET_STRING_ELT(out, i, NA_STRING);
      continue;
    }
    const auto bytes = static_cast<std::size_t>(Rf_xlength(value));
    b64::encode_text(reinterpret_cast<const std::uint8_t*>(R_CHAR(value)), bytes, text,
                     format);
    SET_STRING_ELT(out, i, string_of(text, b64::text_length(bytes, format), routine));
  }
  UNPROTECT(1);
  return out;
}

// The bytes of the text in[0, n) as a raw vector, or as one string when `string`; a
// report when the text is malformed or, for a string, decodes to a NUL byte.
SEXP decode_one(const std::uint8_t* in, std::size_t n, const b64::decode_format& format,
                bool string, const char* routine) {
  std::uint8_t small[stack_string];
  SEXP out = R_NilValue;
  std::uint64_t length = 0;
  const b64::text_fault fault = b64::decode_whole(in, n, format, [&](std::uint64_t k) {
    length = k;
    if (string && k <= stack_string) return small;
    out = new_raw_vector(static_cast<R_xlen_t>(k));
    return RAW(out);
  });
  // Protected only now: the decoder allocates nothing, so R cannot have collected it.
  PROTECT(out);
  SEXP result = out;
  if (fault.kind != b64::fault_kind::none) {
    result = fault_report(fault, NA_REAL);
  } else if (string) {
    const std::uint8_t* bytes = out == R_NilValue ? small : RAW(out);
    result = holds_nul(bytes, length)
                 ? nul_report(NA_REAL)
                 : Rf_ScalarString(string_of(bytes, length, routine));
  }
  UNPROTECT(1);
  return result;
}

// Each element of the character vector x decoded on its own into a string; NA stays
// NA. A report for the first element that is malformed or decodes to a NUL byte.
SEXP decode_each(SEXP x, const b64::decode_format& format, const char* routine) {
  const R_xlen_t n = XLENGTH(x);
  // Unpadded text decodes to up to 2 bytes more than its whole groups.
  const std::uint64_t longest =
      largest_result(x, [](std::uint64_t k) { return b64::decoded_capacity(k) + 2; });
  auto* bytes = reinterpret_cast<std::uint8_t*>(R_alloc(longest, 1));
  SEXP out = PROTECT(Rf_allocVector(STRSXP, n));
  for (R_xlen_t i = 0; i < n; ++i) {
    SEXP value = STRING_ELT(x, i);
    if (value == NA_STRING) {
      SET_STRING_ELT(out, i, NA_STRING);
      continue;
    }
    std::uint64_t length = 0;
    const b64::text_fault fault = b64::decode_whole(
        reinterpret_cast<const std::uint8_t*>(R_CHAR(value)),
        static_cast<std::size_t>(Rf_xlength(value)), format, [&](std::uint64_t k) {
          length = k;
          return bytes;
        });
    const double element = static_cast<double>(i) + 1;  // counted from 1, as R does
    if (fault.kind != b64::fault_kind::none || holds_nul(bytes, length)) {
      UNPROTECT(1);
      return fault.kind != b64::fault_kind::none ? fault_report(fault, element)
                                                 : nul_report(element);
    }
    SET_STRING_ELT(out, i, string_of(bytes, length, routine));
  }
  UNPROTECT(1);
  return out;
}

// Whether x is a string of its own: one element, not NA.
bool is_one_string(SEXP x) { return XLENGTH(x) == 1 && STRING_ELT(x, 0) != NA_STRING; }

const std::uint8_t* bytes_of(SEXP string) {
  return reinterpret_cast<const std::uint8_t*>(R_CHAR(string));
}

}  // namespace

extern "C" {

SEXP tarnwick_base64_encode_options(SEXP x, SEXP url, SEXP pad, SEXP width, SEXP eol,
                                    SEXP as) {
  b64::text_format format;
  bool string = false;
  if (!read_text_format(url, pad, width, eol, &format) || !read_as_string(as, &string) ||
      Rf_isObject(x)) {
    return R_NilValue;
  }
  if (TYPEOF(x) == RAWSXP) {
    return encode_one(RAW(x), static_cast<std::size_t>(XLENGTH(x)), format, string,
                      __func__);
  }
  if (TYPEOF(x) != STRSXP) return R_NilValue;
  if (string) return encode_each(x, format, __func__);
  if (!is_one_string(x)) return R_NilValue;
  SEXP value = STRING_ELT(x, 0);
  return encode_one(bytes_of(value), static_cast<std::size_t>(Rf_xlength(value)), format,
                    false, __func__);
}

SEXP tarnwick_base64_decode_options(SEXP x, SEXP url, SEXP breaks, SEXP as) {
  b64::decode_format format;
  bool string = false;
  if (!read_decode_format(url, breaks, &format) || !read_as_string(as, &string) ||
      Rf_isObject(x)) {
    return R_NilValue;
  }
  if (TYPEOF(x) == RAWSXP) {
    return decode_one(RAW(x), static_cast<std::size_t>(XLENGTH(x)), format, string,
                      __func__);
  }
  if (TYPEOF(x) != STRSXP) return R_NilValue;
  if (is_one_string(x)) {
    SEXP value = STRING_ELT(x, 0);
    return decode_one(bytes_of(value), static_cast<std::size_t>(Rf_xlength(value)),
                      format, string, __func__);
  }
  return string ? decode_each(x, format, __func__) : R_NilValue;
}

}  // extern "C"
