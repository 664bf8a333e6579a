// Located errors: messages that carry their source position and system error, raised
// as R errors or handed to R as data.
#ifndef CLIENT_ERRORS_H
#define CLIENT_ERRORS_H

#include <cstdarg>

#define R_NO_REMAP
#include <R_ext/Visibility.h>
#include <Rinternals.h>

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

// Where an error was found, and its system error: `error` is an errno value when
// `system`; an error of the arguments has none, and its text no system error piece.
struct error_site {
  const char* func;
  const char* filename;
  int line;
  bool system;
  int error;
};

// Formats the message into the buffer, cut at a character boundary if it is longer:
// from a va_list for client.so's exported raisers, else from the arguments.
void format_message(const char* msg, std::va_list args);
void print_message(const char* msg, ...) CLIENT_PRINTF(1, 2);

// Raises the message in the buffer as an R error, located at `site`; a null sysmsg
// stands for strerror(site.error). Never returns.
[[noreturn]] void raise_message(const error_site& site, const char* sysmsg);

// The same text as raise_message() would raise, handed over as a fault: list(kind =
// "system", message, errno, subject), where subject names what failed ("input",
// "output") or is NA. The package's R code raises it as a client_system_error.
SEXP message_fault(const error_site& site, const char* subject);

// Raise an R error, or make a fault, from the routine or helper `func`, located at this
// line of the file whose name the including file keeps in `source_name`: RAISE_ERROR
// for a bad argument, RAISE_SYSTEM_ERROR and SYSTEM_FAULT for the errno value `err`,
// SUBJECT_FAULT for a fault that says what failed.
// Each formats the message first, then raises it or makes the fault. Hidden, like
// everything here but the exported raisers.
#define HERE(func, system, err) \
  (error_site{(func), source_name, __LINE__, (system), (err)})
#define RAISE_ERROR(func, ...) \
  (print_message(__VA_ARGS__), raise_message(HERE(func, false, 0), nullptr))
#define RAISE_SYSTEM_ERROR(func, err, ...) \
  (print_message(__VA_ARGS__), raise_message(HERE(func, true, err), nullptr))
#define SYSTEM_FAULT(func, err, ...) \
  (print_message(__VA_ARGS__), message_fault(HERE(func, true, err), nullptr))
#define SUBJECT_FAULT(func, err, subject, ...) \
  (print_message(__VA_ARGS__), message_fault(HERE(func, true, err), (subject)))

#endif  // CLIENT_ERRORS_H
