// client.so's own: its entry and routine table, the eight routines alone, and the two
// error raisers it exports for native code that loads it by hand.
#include <cstdarg>

#include "errors.h"
#include "routines.h"

namespace {
// clang-format off
const R_CallMethodDef call_entries[] = {
    CLIENT_FIXED_ROUTINES(CALL_ENTRY)
    {nullptr, nullptr, 0},
};
// clang-format on
}  // namespace

extern "C" {

void R_init_client(DllInfo* dll) {
  R_registerRoutines(dll, nullptr, call_entries, nullptr, nullptr);
  R_useDynamicSymbols(dll, FALSE);
  R_forceSymbols(dll, TRUE);
}

void r_throw_error(const char* func, const char* filename, int line, const char* msg,
                   ...) {
  std::va_list args;
  va_start(args, msg);
  format_message(msg, args);
  va_end(args);
  raise_message(error_site{func, filename, line, false, 0}, nullptr);
}

void r_throw_system_error(const char* func, const char* filename, int line, int error,
                          const char* sysmsg, const char* msg, ...) {
  std::va_list args;
  va_start(args, msg);
  format_message(msg, args);
  va_end(args);
  raise_message(error_site{func, filename, line, true, error}, sysmsg);
}

}  // extern "C"
