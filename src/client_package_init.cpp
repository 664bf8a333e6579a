// The package's own library: its entry and routine table, client.so's eight routines
// with the same names and counts, then the routines the package adds.
#include "routines.h"

namespace {
// clang-format off
const R_CallMethodDef call_entries[] = {
    CLIENT_FIXED_ROUTINES,
    CALL_ENTRY(tarnwick_base64_encode_options, 6),
    CALL_ENTRY(tarnwick_base64_decode_options, 4),
    CALL_ENTRY(tarnwick_base64_encode_file, 5),
    CALL_ENTRY(tarnwick_base64_decode_file, 3),
    CALL_ENTRY(tarnwick_open_append, 1),
    CALL_ENTRY(tarnwick_close, 1),
    CALL_ENTRY(tarnwick_fd_connection, 1),
    CALL_ENTRY(tarnwick_follow_start, 1),
    CALL_ENTRY(tarnwick_follow_file, 2),
    CALL_ENTRY(tarnwick_follow_stop, 1),
    {nullptr, nullptr, 0},
};
// clang-format on
}  // namespace

extern "C" void R_init_client_package(DllInfo* dll) {
  R_registerRoutines(dll, nullptr, call_entries, nullptr, nullptr);
  R_useDynamicSymbols(dll, FALSE);
  R_forceSymbols(dll, TRUE);
}
