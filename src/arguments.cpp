// The plain argument readers of arguments.h.
#include "arguments.h"

bool is_plain_scalar(SEXP x, int type) {
  return TYPEOF(x) == type && XLENGTH(x) == 1 && !Rf_isObject(x);
}

// Newer headers offer ANY_ATTRIB (with NO_ATTRIB) and no longer declare ATTRIB.
bool has_attributes(SEXP x) {
#ifdef NO_ATTRIB
  return ANY_ATTRIB(x) != 0;
#else
  return ATTRIB(x) != R_NilValue;
#endif
}

bool read_flag(SEXP x, bool* value) {
  if (!is_plain_scalar(x, LGLSXP) || LOGICAL(x)[0] == NA_LOGICAL) return false;
  *value = LOGICAL(x)[0] != 0;
  return true;
}

bool read_string(SEXP x, const char** value) {
  if (!is_plain_scalar(x, STRSXP) || STRING_ELT(x, 0) == NA_STRING) return false;
  *value = R_CHAR(STRING_ELT(x, 0));
  return true;
}

bool read_int(SEXP x, int* value) {
  if (!is_plain_scalar(x, INTSXP) || INTEGER(x)[0] == NA_INTEGER) return false;
  *value = INTEGER(x)[0];
  return true;
}
