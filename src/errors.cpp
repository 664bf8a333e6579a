// How errors are raised: the message buffer and the text around it, shared by the
// routines of both libraries and by client.so's exported raisers.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#define R_NO_REMAP
#include <Rinternals.h>

#include "errors.h"

namespace {
// Holds the caller's formatted message for one raise; overwritten by the next.
char message_buffer[4096];

// The longest error text R keeps: it cuts every error at the option warning.length
// (1000 unless set; R accepts 100 to 8170) less one byte for the terminating NUL.
std::size_t r_error_text_limit() {
  const int length = Rf_asInteger(Rf_GetOption1(Rf_install("warning.length")));
  return length == NA_INTEGER || length < 100 ? 999
                                              : static_cast<std::size_t>(length) - 1;
}

constexpr char cut_marker[] = "...";

// Shortens the message in the buffer, marked with cut_marker, so that tail_length
// more bytes still fit in what R keeps: otherwise R would cut away the system error
// and the location, the parts that say what failed where. Stops short of a UTF-8
// continuation byte so that no character is split.
void leave_room_for(std::size_t tail_length) {
  const std::size_t limit = r_error_text_limit();
  const std::size_t length = std::strlen(message_buffer);
  if (length + tail_length <= limit || tail_length + sizeof cut_marker > limit) return;
  std::size_t cut = limit - tail_length - (sizeof cut_marker - 1);
  while (cut > 0 && (static_cast<unsigned char>(message_buffer[cut]) & 0xC0) == 0x80)
    --cut;
  std::memcpy(message_buffer + cut, cut_marker, sizeof cut_marker);
}
}  // namespace

void format_message(const char* msg, std::va_list args) {
  message_buffer[0] = '\0';
  std::vsnprintf(message_buffer, sizeof message_buffer, msg, args);
}

void raise_formatted_error(const char* func, const char* filename, int line) {
  leave_room_for(static_cast<std::size_t>(
      std::snprintf(nullptr, 0, " @%s:%d (%s)", filename, line, func)));
  Rf_error("%s @%s:%d (%s)", message_buffer, filename, line, func);
}

void raise_formatted_system_error(const char* func, const char* filename, int line,
                                  int error, const char* sysmsg) {
  if (sysmsg == nullptr) sysmsg = std::strerror(error);
  leave_room_for(static_cast<std::size_t>(
      std::snprintf(nullptr, 0, " (system error %d, %s) @%s:%d (%s)", error, sysmsg,
                    filename, line, func)));
  Rf_error("%s (system error %d, %s) @%s:%d (%s)", message_buffer, error, sysmsg,
           filename, line, func);
}

void throw_error(const char* func, const char* filename, int line, const char* msg, ...) {
  std::va_list args;
  va_start(args, msg);
  format_message(msg, args);
  va_end(args);
  raise_formatted_error(func, filename, line);
}

void throw_system_error(const char* func, const char* filename, int line, int error,
                        const char* msg, ...) {
  std::va_list args;
  va_start(args, msg);
  format_message(msg, args);
  va_end(args);
  raise_formatted_system_error(func, filename, line, error, nullptr);
}
