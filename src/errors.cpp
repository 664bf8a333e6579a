// The two exported error raisers and the message buffer they share.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#define R_NO_REMAP
#include <Rinternals.h>

#include "errors.h"

namespace {
// Holds the caller's formatted message for one raise; overwritten by the next.
char message_buffer[4096];

void format_message(const char* msg, std::va_list args) {
  message_buffer[0] = '\0';
  std::vsnprintf(message_buffer, sizeof message_buffer, msg, args);
}
}  // namespace

extern "C" {

void r_throw_error(const char* func, const char* filename, int line, const char* msg,
                   ...) {
  std::va_list args;
  va_start(args, msg);
  format_message(msg, args);
  va_end(args);
  Rf_error("%s @%s:%d (%s)", message_buffer, filename, line, func);
}

void r_throw_system_error(const char* func, const char* filename, int line, int error,
                          const char* sysmsg, const char* msg, ...) {
  if (sysmsg == nullptr) sysmsg = std::strerror(error);
  std::va_list args;
  va_start(args, msg);
  format_message(msg, args);
  va_end(args);
  Rf_error("%s (system error %d, %s) @%s:%d (%s)", message_buffer, error, sysmsg,
           filename, line, func);
}

}  // extern "C"
