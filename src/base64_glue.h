// What the routines of base64 with options share: reading their arguments, and the
// report that tells R what is wrong with a text.
#ifndef CLIENT_BASE64_GLUE_H
#define CLIENT_BASE64_GLUE_H

#include <cstdint>

#define R_NO_REMAP
#include <Rinternals.h>

#include "b64_text.h"

// The codec's argument readers, as those of arguments.h: true when x has the plain form
// that R's functions hand over, with its value.
bool read_text_format(SEXP url, SEXP pad, SEXP width, SEXP eol,
                      b64::text_format* format);  // width: 0 or a multiple of 4
bool read_decode_format(SEXP url, SEXP breaks, b64::decode_format* format);
bool read_as_string(SEXP as, bool* string);  // "raw", "string" or both

// What is wrong with a text, for R to word: list(kind, offset, byte, characters,
// element). kind is "byte", "padding", "length" or "length_one_more"; offset counts
// the offending byte from 1; element is the index of the element of a character
// vector that holds the text, NA for a text of its own.
SEXP fault_report(const b64::text_fault& fault, double element);
// The same for text that decodes to a NUL byte where a string was asked for: kind
// "nul".
SEXP nul_report(double element);

#endif  // CLIENT_BASE64_GLUE_H
