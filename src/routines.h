// Every routine that R calls with .Call, and the two libraries' entries. client.so
// registers the first eight; the package's own library registers them all.
#ifndef CLIENT_ROUTINES_H
#define CLIENT_ROUTINES_H

#define R_NO_REMAP
#include <R_ext/Rdynload.h>
#include <R_ext/Visibility.h>
#include <Rinternals.h>

extern "C" {

// Descriptors (client.cpp).
attribute_visible SEXP tarnwick_set_stdout(SEXP fd, SEXP drop);
attribute_visible SEXP tarnwick_set_stderr(SEXP fd, SEXP drop);
attribute_visible SEXP tarnwick_set_stdout_to_file(SEXP path);
attribute_visible SEXP tarnwick_set_stderr_to_file(SEXP path);
attribute_visible SEXP tarnwick_write(SEXP fd, SEXP data);
attribute_visible SEXP tarnwick_disable_inheritance();

// The plain codec: standard alphabet, padded, one line (base64.cpp).
attribute_visible SEXP tarnwick_base64_encode(SEXP data);
attribute_visible SEXP tarnwick_base64_decode(SEXP text);

// Base64 with options, of the package's own library (base64_options.cpp): the URL-safe
// alphabet, padding or none, lines; strict decoding that reports the first offending
// byte; a raw vector, a string, or a character vector element by element. NULL when an
// argument is not in the plain form that R's checks give.
attribute_visible SEXP tarnwick_base64_encode_options(SEXP x, SEXP url, SEXP pad,
                                                      SEXP width, SEXP eol, SEXP as);
attribute_visible SEXP tarnwick_base64_decode_options(SEXP x, SEXP url, SEXP breaks,
                                                      SEXP as);

// The same from file to file (base64_files.cpp).
attribute_visible SEXP tarnwick_base64_encode_file(SEXP paths, SEXP url, SEXP pad,
                                                   SEXP width, SEXP eol);
attribute_visible SEXP tarnwick_base64_decode_file(SEXP paths, SEXP url, SEXP breaks);

// Descriptors, of the package's own library (descriptors.cpp): a file opened for
// appending, and closing it when no stream took it.
attribute_visible SEXP tarnwick_open_append(SEXP path);
attribute_visible SEXP tarnwick_close(SEXP fd);

// A write-only R connection onto a descriptor that R code holds (descriptors.cpp).
attribute_visible SEXP tarnwick_fd_connection(SEXP fd);

// The copy of a rerouted stream to where it went before, for split = TRUE (split.cpp):
// started before the switch, handed the file after it, stopped once the stream is back.
attribute_visible SEXP tarnwick_follow_start(SEXP fd);
attribute_visible SEXP tarnwick_follow_file(SEXP follower, SEXP path);
attribute_visible SEXP tarnwick_follow_stop(SEXP follower);

// The entries: client.so's (client_init.cpp) and the package's own library's
// (client_package_init.cpp).
attribute_visible void R_init_client(DllInfo* dll);
attribute_visible void R_init_client_package(DllInfo* dll);

}  // extern "C"

// clang-format off
// A row of a routine table. Cast through void (*)() for -Wcast-function-type; a helper
// function would run at load.
#define CALL_ENTRY(fn, n) \
  { #fn, reinterpret_cast<DL_FUNC>(reinterpret_cast<void (*)()>(&fn)), n }

// client.so's eight routines with their argument counts, in its table's order: both
// libraries register them alike.
#define CLIENT_FIXED_ROUTINES \
    CALL_ENTRY(tarnwick_base64_encode, 1), \
    CALL_ENTRY(tarnwick_base64_decode, 1), \
    CALL_ENTRY(tarnwick_disable_inheritance, 0), \
    CALL_ENTRY(tarnwick_write, 2), \
    CALL_ENTRY(tarnwick_set_stdout, 2), \
    CALL_ENTRY(tarnwick_set_stderr, 2), \
    CALL_ENTRY(tarnwick_set_stdout_to_file, 1), \
    CALL_ENTRY(tarnwick_set_stderr_to_file, 1)
// clang-format on

#endif  // CLIENT_ROUTINES_H
