// Raw vectors for results that the codec fills at once.
#ifndef CLIENT_RAW_VECTOR_H
#define CLIENT_RAW_VECTOR_H

#define R_NO_REMAP
#include <Rinternals.h>

// A new raw vector of `length` bytes, uninitialised (R does not clear it): the caller
// writes every byte. Large ones are advised onto huge pages. Raises R's own error when
// memory runs out.
SEXP new_raw_vector(R_xlen_t length);

#endif  // CLIENT_RAW_VECTOR_H
