// Located error raising: messages that carry their source position and system error.
#ifndef CLIENT_ERRORS_H
#define CLIENT_ERRORS_H

#include <cstdarg>

#include <R_ext/Visibility.h>

#if defined(__GNUC__)
#define CLIENT_PRINTF(fmt_index, first_arg) \
  __attribute__((format(printf, fmt_index, first_arg)))
#else
#define CLIENT_PRINTF(fmt_index, first_arg)
#endif

extern "C" {

// Raises an R error "<message> @<filename>:<line> (<func>)". Never returns.
// Exported by client.so alone, for native code that loads it by hand.
[[noreturn]] attribute_visible void r_throw_error(const char* func, const char* filename,
                                                  int line, const char* msg, ...)
    CLIENT_PRINTF(4, 5);

// Raises "<message> (system error <error>, <sysmsg>) @<filename>:<line> (<func>)".
// A null sysmsg stands for strerror(error). Never returns. Exported by client.so alone.
[[noreturn]] attribute_visible void r_throw_system_error(const char* func,
                                                         const char* filename, int line,
                                                         int error, const char* sysmsg,
                                                         const char* msg, ...)
    CLIENT_PRINTF(6, 7);

}  // extern "C"

// The same for the routines of both libraries. Hidden, so that the package's own
// library exports nothing but its entry and its routines; the system error's words are
// always strerror(error).
[[noreturn]] void throw_error(const char* func, const char* filename, int line,
                              const char* msg, ...) CLIENT_PRINTF(4, 5);
[[noreturn]] void throw_system_error(const char* func, const char* filename, int line,
                                     int error, const char* msg, ...) CLIENT_PRINTF(5, 6);

// The steps of a raise, for the exported raisers: the message goes into the buffer
// first, then the error is raised with the location (and system error) after it.
void format_message(const char* msg, std::va_list args);
[[noreturn]] void raise_formatted_error(const char* func, const char* filename, int line);
[[noreturn]] void raise_formatted_system_error(const char* func, const char* filename,
                                               int line, int error, const char* sysmsg);

// Raise an R error from the routine or helper `func`, located at this line of the file
// whose name the including file keeps in `source_name`: RAISE_ERROR for a bad argument,
// RAISE_SYSTEM_ERROR for the errno value `err`.
#define RAISE_ERROR(func, ...) throw_error((func), source_name, __LINE__, __VA_ARGS__)
#define RAISE_SYSTEM_ERROR(func, err, ...) \
  throw_system_error((func), source_name, __LINE__, (err), __VA_ARGS__)

#endif  // CLIENT_ERRORS_H
