// How errors are raised: the message buffer and the text around it, shared by the
// routines of both libraries and by client.so's exported raisers.
#include "errors.h"

#include <cstdio>
#include <cstring>

namespace {
// Holds the caller's formatted message for one raise; overwritten by the next.
char message_buffer[4096];

// Whether byte is the second or a later byte of a UTF-8 character.
bool continues_character(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Ends the text in `buffer` at `length` or before, at a character boundary.
void cut_at_character(char* buffer, std::size_t length) {
  while (length > 0 && continues_character(buffer[length])) --length;
  buffer[length] = '\0';
}

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
// and the location, the parts that say what failed where. No character is split.
void leave_room_for(std::size_t tail_length) {
  const std::size_t limit = r_error_text_limit();
  const std::size_t length = std::strlen(message_buffer);
  if (length + tail_length <= limit || tail_length + sizeof cut_marker > limit) return;
  cut_at_character(message_buffer, limit - tail_length - (sizeof cut_marker - 1));
  std::strcat(message_buffer, cut_marker);
}

// What follows the message: " (system error <n>, <words>) @<file>:<line> (<func>)",
// the system error piece left out for an error of the arguments.
void format_tail(const error_site& site, const char* sysmsg, char* tail, std::size_t n) {
  if (!site.system) {
    std::snprintf(tail, n, " @%s:%d (%s)", site.filename, site.line, site.func);
  } else {
    if (sysmsg == nullptr) sysmsg = std::strerror(site.error);
    std::snprintf(tail, n, " (system error %d, %s) @%s:%d (%s)", site.error, sysmsg,
                  site.filename, site.line, site.func);
  }
  leave_room_for(std::strlen(tail));
}

// Room for a tail: names of functions and files are short, and so are the system's
// words for an error.
constexpr std::size_t tail_size = 512;
}  // namespace

void format_message(const char* msg, std::va_list args) {
  message_buffer[0] = '\0';
  const int length = std::vsnprintf(message_buffer, sizeof message_buffer, msg, args);
  if (length >= static_cast<int>(sizeof message_buffer)) {
    cut_at_character(message_buffer, sizeof message_buffer - 1);
  }
}

void print_message(const char* msg, ...) {
  std::va_list args;
  va_start(args, msg);
  format_message(msg, args);
  va_end(args);
}

void raise_message(const error_site& site, const char* sysmsg) {
  char tail[tail_size];
  format_tail(site, sysmsg, tail, sizeof tail);
  Rf_error("%s%s", message_buffer, tail);
}

SEXP message_fault(const error_site& site, const char* subject) {
  char tail[tail_size];
  format_tail(site, nullptr, tail, sizeof tail);
  const char* names[] = {"kind", "message", "errno", "subject", ""};
  SEXP fault = PROTECT(Rf_mkNamed(VECSXP, names));
  SET_VECTOR_ELT(fault, 0, Rf_mkString("system"));
  const std::size_t length = std::strlen(message_buffer) + std::strlen(tail);
  char* text = R_alloc(length + 1, 1);
  std::strcpy(text, message_buffer);
  std::strcat(text, tail);
  SET_VECTOR_ELT(fault, 1, Rf_mkString(text));
  SET_VECTOR_ELT(fault, 2, Rf_ScalarInteger(site.error));
  SET_VECTOR_ELT(fault, 3,
                 subject == nullptr ? Rf_ScalarString(NA_STRING) : Rf_mkString(subject));
  UNPROTECT(1);
  return fault;
}

void throw_located(error_site site, const char* msg, ...) {
  std::va_list args;
  va_start(args, msg);
  format_message(msg, args);
  va_end(args);
  raise_message(site, nullptr);
}

SEXP located_fault(error_site site, const char* subject, const char* msg, ...) {
  std::va_list args;
  va_start(args, msg);
  format_message(msg, args);
  va_end(args);
  return message_fault(site, subject);
}
