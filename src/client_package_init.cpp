// The package's own library: its entry and routine table, client.so's eight routines
// with the same names and counts, then the routines the package adds.
#include "routines.h"

namespace {
// clang-format off
const R_CallMethodDef call_entries[] = {
    CLIENT_FIXED_ROUTINES(CALL_ENTRY)
    CLIENT_PACKAGE_ROUTINES(CALL_ENTRY)
    {nullptr, nullptr, 0},
};
// clang-format on
}  // namespace

extern "C" void R_init_client_package(DllInfo* dll) {
  R_registerRoutines(dll, nullptr, call_entries, nullptr, nullptr);
  R_useDynamicSymbols(dll, FALSE);
  R_forceSymbols(dll, TRUE);
}
