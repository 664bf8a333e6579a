// Readers of the arguments that the package's R functions hand its routines: true when
// an argument has the plain form that R's checks give, with its value. They never raise
// and read nothing past a vector, whatever a direct .Call passes.
#ifndef CLIENT_ARGUMENTS_H
#define CLIENT_ARGUMENTS_H

#define R_NO_REMAP
#include <Rinternals.h>

// One value of R type `type`, not a classed object.
bool is_plain_scalar(SEXP x, int type);
// Whether x carries any attribute.
bool has_attributes(SEXP x);

bool read_flag(SEXP x, bool* value);           // TRUE or FALSE
bool read_string(SEXP x, const char** value);  // one string, not NA
bool read_int(SEXP x, int* value);             // one integer, not NA

#endif  // CLIENT_ARGUMENTS_H
