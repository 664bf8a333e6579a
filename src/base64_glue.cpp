// Arguments and reports of the routines of base64 with options.
#include <climits>
#include <cmath>
#include <cstring>

#include "base64_glue.h"

#include "arguments.h"

namespace {

// A report: the fault's kind, and the numbers R words the message with.
SEXP report(const char* kind, double offset, int byte, double characters,
            double element) {
  const char* names[] = {"kind", "offset", "byte", "characters", "element", ""};
  SEXP out = PROTECT(Rf_mkNamed(VECSXP, names));
  SET_VECTOR_ELT(out, 0, Rf_mkString(kind));
  SET_VECTOR_ELT(out, 1, Rf_ScalarReal(offset));
  SET_VECTOR_ELT(out, 2, Rf_ScalarInteger(byte));
  SET_VECTOR_ELT(out, 3, Rf_ScalarReal(characters));
  SET_VECTOR_ELT(out, 4, Rf_ScalarReal(element));
  UNPROTECT(1);
  return out;
}

const char* kind_name(b64::fault_kind kind) {
  switch (kind) {
    case b64::fault_kind::bad_byte:
      return "byte";
    case b64::fault_kind::misplaced_pad:
      return "padding";
    case b64::fault_kind::bad_length:
      return "length";
    case b64::fault_kind::length_one_more:
      return "length_one_more";
    default:
      return "none";
  }
}

// A line width: a whole number from 0 to INT_MAX that is a multiple of 4.
bool read_width(SEXP x, std::size_t* value) {
  double width = 0;
  if (is_plain_scalar(x, INTSXP) && INTEGER(x)[0] != NA_INTEGER) {
    width = INTEGER(x)[0];
  } else if (is_plain_scalar(x, REALSXP)) {
    width = REAL(x)[0];
  } else {
    return false;
  }
  // NaN fails every comparison.
  if (!(width >= 0 && width <= INT_MAX) || std::fmod(width, 4) != 0) return false;
  *value = static_cast<std::size_t>(width);
  return true;
}

}  // namespace

bool read_text_format(SEXP url, SEXP pad, SEXP width, SEXP eol,
                      b64::text_format* format) {
  const char* line_end = nullptr;
  // The line end is "\n" or "\r\n" exactly, with no attributes, as identical() sees it.
  if (!read_string(eol, &line_end) || has_attributes(eol) ||
      (std::strcmp(line_end, "\n") != 0 && std::strcmp(line_end, "\r\n") != 0)) {
    return false;
  }
  format->eol = line_end;
  format->eol_length = std::strlen(line_end);
  format->final_eol = false;
  return read_flag(url, &format->url) && read_flag(pad, &format->pad) &&
         read_width(width, &format->width);
}

bool read_decode_format(SEXP url, SEXP breaks, b64::decode_format* format) {
  return read_flag(url, &format->url) && read_flag(breaks, &format->breaks);
}

bool read_as_string(SEXP as, bool* string) {
  // The default, c("raw", "string"), means its first.
  if (TYPEOF(as) == STRSXP && XLENGTH(as) == 2 && !has_attributes(as) &&
      std::strcmp(R_CHAR(STRING_ELT(as, 0)), "raw") == 0 &&
      std::strcmp(R_CHAR(STRING_ELT(as, 1)), "string") == 0) {
    *string = false;
    return true;
  }
  const char* choice = nullptr;
  if (!read_string(as, &choice)) return false;
  *string = std::strcmp(choice, "string") == 0;
  return *string || std::strcmp(choice, "raw") == 0;
}

SEXP fault_report(const b64::text_fault& fault, double element) {
  return report(kind_name(fault.kind), static_cast<double>(fault.offset) + 1, fault.byte,
                static_cast<double>(fault.characters), element);
}

SEXP nul_report(double element) {
  return report("nul", NA_REAL, NA_INTEGER, NA_REAL, element);
}
