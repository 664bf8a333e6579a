// Every routine that R calls with .Call, and the two libraries' entries: one list, from
// which the prototypes and both routine tables are made. client.so registers the fixed
// eight; the package's own library registers them all. A routine's contract is written
// above its definition.
#ifndef CLIENT_ROUTINES_H
#define CLIENT_ROUTINES_H

#define R_NO_REMAP
#include <R_ext/Rdynload.h>
#include <R_ext/Visibility.h>
#include <Rinternals.h>

// clang-format off
// client.so's eight routines with their argument counts, in its table's order: both
// libraries register them alike. X(name, count) for each; they are fixed.
#define CLIENT_FIXED_ROUTINES(X)            \
  X(tarnwick_base64_encode, 1)              \
  X(tarnwick_base64_decode, 1)              \
  X(tarnwick_disable_inheritance, 0)        \
  X(tarnwick_write, 2)                      \
  X(tarnwick_set_stdout, 2)                 \
  X(tarnwick_set_stderr, 2)                 \
  X(tarnwick_set_stdout_to_file, 1)         \
  X(tarnwick_set_stderr_to_file, 1)

// The routines of the package's own library alone, each in the file that defines it.
#define CLIENT_PACKAGE_ROUTINES(X)          \
  X(tarnwick_base64_encode_options, 6)      /* base64_options.cpp */ \
  X(tarnwick_base64_decode_options, 4)      \
  X(tarnwick_base64_encode_file, 5)         /* base64_files.cpp */ \
  X(tarnwick_base64_decode_file, 3)         \
  X(tarnwick_open_append, 1)                /* descriptors.cpp */ \
  X(tarnwick_close, 1)                      \
  X(tarnwick_reroute, 3)                    \
  X(tarnwick_reroute_to_file, 2)            \
  X(tarnwick_fd_connection, 1)              \
  X(tarnwick_follow_start, 1)               /* split.cpp */ \
  X(tarnwick_follow_file, 2)                \
  X(tarnwick_follow_stop, 1)

// A routine's parameters: as many SEXP as its count.
#define CLIENT_SEXPS_0 void
#define CLIENT_SEXPS_1 SEXP
#define CLIENT_SEXPS_2 SEXP, SEXP
#define CLIENT_SEXPS_3 SEXP, SEXP, SEXP
#define CLIENT_SEXPS_4 SEXP, SEXP, SEXP, SEXP
#define CLIENT_SEXPS_5 SEXP, SEXP, SEXP, SEXP, SEXP
#define CLIENT_SEXPS_6 SEXP, SEXP, SEXP, SEXP, SEXP, SEXP
#define CLIENT_DECLARE(fn, n) attribute_visible SEXP fn(CLIENT_SEXPS_##n);

// A row of a routine table. Cast through void (*)() for -Wcast-function-type; a helper
// function would run at load.
#define CALL_ENTRY(fn, n) \
  { #fn, reinterpret_cast<DL_FUNC>(reinterpret_cast<void (*)()>(&fn)), n },
// clang-format on

extern "C" {

CLIENT_FIXED_ROUTINES(CLIENT_DECLARE)
CLIENT_PACKAGE_ROUTINES(CLIENT_DECLARE)

// The entries: client.so's (client_init.cpp) and the package's own library's
// (client_package_init.cpp).
attribute_visible void R_init_client(DllInfo* dll);
attribute_visible void R_init_client_package(DllInfo* dll);

}  // extern "C"

#endif  // CLIENT_ROUTINES_H
