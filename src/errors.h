// Located error raising: messages that carry their source position and system error.
#ifndef CLIENT_ERRORS_H
#define CLIENT_ERRORS_H

#include <R_ext/Visibility.h>

#if defined(__GNUC__)
#define CLIENT_PRINTF(fmt_index, first_arg) \
  __attribute__((format(printf, fmt_index, first_arg)))
#else
#define CLIENT_PRINTF(fmt_index, first_arg)
#endif

extern "C" {

// Raises an R error "<message> @<filename>:<line> (<func>)". Never returns.
[[noreturn]] attribute_visible void r_throw_error(const char* func, const char* filename,
                                                  int line, const char* msg, ...)
    CLIENT_PRINTF(4, 5);

// Raises "<message> (system error <error>, <sysmsg>) @<filename>:<line> (<func>)".
// A null sysmsg stands for strerror(error). Never returns.
[[noreturn]] attribute_visible void r_throw_system_error(const char* func,
                                                         const char* filename, int line,
                                                         int error, const char* sysmsg,
                                                         const char* msg, ...)
    CLIENT_PRINTF(6, 7);

}  // extern "C"

#endif  // CLIENT_ERRORS_H
