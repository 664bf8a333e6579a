// Base64 text as R users meet it: the URL-safe alphabet, padding or none, lines of a
// chosen width, and strict decoding that names the first offending byte. Built on the
// plain codec of b64.h; byte spans in and out, no R, no allocation, no exceptions.
#ifndef CLIENT_B64_TEXT_H
#define CLIENT_B64_TEXT_H

#include <cstddef>
#include <cstdint>

#include "b64.h"

namespace b64 {

// ---- Encoding ----

struct text_format {
  bool url;                // "-" and "_" in place of "+" and "/"
  bool pad;                // "=" up to a multiple of 4 characters
  std::size_t width;       // characters per line, a positive multiple of 4; 0: one line
  const char* eol;         // the line end between two lines
  std::size_t eol_length;  // its bytes, 1 or 2
  bool final_eol;          // a line end after the last line too, as text files have
};

// The length of the text of n bytes. Callers check it against their own limits; it does
// not overflow for n < 2^61.
std::uint64_t text_length(std::uint64_t n, const text_format& format) noexcept;

// Writes the text of in[0, n) to out[0, text_length(n, format)).
void encode_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                 const text_format& format) noexcept;

// How far the encoding of a text has come, for a text encoded a piece at a time.
struct text_encoder {
  text_format format;
  std::size_t column;   // characters in the unfinished line
  std::uint64_t total;  // characters written so far, line ends included
};

constexpr text_encoder start_encoding(const text_format& format) noexcept {
  return {format, 0, 0};
}

// The room encode_piece() needs for a piece of n bytes.
std::uint64_t piece_text_capacity(std::uint64_t n, const text_format& format) noexcept;

// Writes the text of in[0, n), the next piece of the input (the last one when
// `final`), to out, and returns its length. Every piece but the last must be a
// multiple of 3 bytes.
std::size_t encode_piece(text_encoder& encoder, const std::uint8_t* in, std::size_t n,
                         bool final, std::uint8_t* out) noexcept;

// ---- Decoding ----

// The text is standard base64, padded, on one line, unless:
struct decode_format {
  bool url;     // URL-safe alphabet; the padding may be left out
  bool breaks;  // line feeds and carriage returns are skipped wherever they stand
};

// What makes a text malformed: the first byte outside the alphabet (line ends aside
// with breaks), or the first "=" that is not padding (one or two that end the text);
// only when every byte is valid, a length that no padding completes.
enum class fault_kind : int {
  none,
  bad_byte,         // offset and byte say which
  misplaced_pad,    // offset says which "="
  bad_length,       // characters is not a multiple of 4 (padded, or standard text)
  length_one_more,  // characters, unpadded URL-safe text, is one more than that
};

struct text_fault {
  fault_kind kind;
  std::uint64_t offset;      // of the offending byte, from 0, in the whole text
  std::uint8_t byte;         // its value
  std::uint64_t characters;  // the length of the whole text, line ends aside
};

// How far the decoding of a text has come: what decode_piece() carries from one piece
// of the text to the next.
struct text_decoder {
  decode_format format;
  std::uint64_t offset;      // bytes taken so far
  std::uint64_t characters;  // of them, those that are not line ends
  unsigned pads;             // "=" that ended what was taken, at most 2
  std::uint64_t first_pad;   // the offset of the first of them
  std::uint8_t group[4];     // characters of an unfinished group, standard alphabet
  std::size_t group_length;  // how many
};

constexpr text_decoder start_decoding(decode_format format) noexcept {
  return {format, 0, 0, 0, 0, {0, 0, 0, 0}, 0};
}

// The room decode_piece() needs for a piece of n bytes.
constexpr std::uint64_t piece_capacity(std::uint64_t n) noexcept {
  return 3 * ((n + 3) / 4) + 2;
}

// Decodes in[0, n), the next piece of the text (the last one when `final`), into
// out[0, out_size), and returns the bytes written. Sets *fault to the first fault of
// the text if this piece shows it (kind none otherwise); after a fault the decoder is
// spent. Pieces may end anywhere, inside a group or a line end too.
std::size_t decode_piece(text_decoder& decoder, const std::uint8_t* in, std::size_t n,
                         bool final, std::uint8_t* out, std::size_t out_size,
                         text_fault* fault) noexcept;

// The decoded length of the whole text in[0, n), when its length and final padding
// are right; false otherwise, and then find_fault() tells what is wrong.
bool decoded_length(const std::uint8_t* in, std::size_t n, decode_format format,
                    std::uint64_t* length) noexcept;

// The first fault of the whole text in[0, n), found one byte at a time: the plain
// statement of what decode_piece() refuses.
text_fault find_fault(const std::uint8_t* in, std::size_t n,
                      decode_format format) noexcept;

// Decodes the whole text in[0, n): asks allocate(length) for exactly as many bytes as
// it decodes to and fills them, or returns the fault without asking when its length is
// wrong. After any other fault, the bytes given hold no meaning.
template <typename Allocate>
text_fault decode_whole(const std::uint8_t* in, std::size_t n, decode_format format,
                        Allocate&& allocate) {
  std::uint64_t length = 0;
  if (!decoded_length(in, n, format, &length)) return find_fault(in, n, format);
  std::uint8_t* out = allocate(length);
  text_decoder decoder = start_decoding(format);
  text_fault fault;
  decode_piece(decoder, in, n, true, out, static_cast<std::size_t>(length), &fault);
  return fault;
}

}  // namespace b64

#endif  // CLIENT_B64_TEXT_H
