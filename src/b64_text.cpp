// Base64 text with options over the plain codec: lines and the URL-safe alphabet are
// laid out or taken away in small blocks that stay in the cache, so the block kernels
// do the work at their own speed; strictness is checked by the decoder itself, and a
// text is walked byte by byte only to say what is wrong with it.
#include <algorithm>
#include <array>
#include <cstring>

#include "b64_alphabet.h"
#include "b64_text.h"

namespace b64 {
namespace {

// Input bytes encoded at a time: their text, 16 KiB, stays in the fastest cache while
// its alphabet is changed and it is laid out in lines.
constexpr std::size_t encode_block = 12288;
// Text bytes taken at a time into a block of standard characters for the decoder.
constexpr std::size_t decode_block = 16384;

// Every byte to itself, but "+" and "/" to "-" and "_".
constexpr auto url_characters = [] {
  std::array<std::uint8_t, 256> table{};
  for (std::size_t c = 0; c < table.size(); ++c) table[c] = static_cast<std::uint8_t>(c);
  table['+'] = '-';
  table['/'] = '_';
  return table;
}();

void to_url_alphabet(std::uint8_t* chars, std::size_t n) noexcept {
  for (std::size_t i = 0; i < n; ++i) chars[i] = url_characters[chars[i]];
}

// Encodes in[0, n) to out as one run of characters, the last group padded or not, in
// the format's alphabet. Returns the characters written.
std::size_t encode_run(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                       const text_format& format) noexcept {
  const std::size_t whole = n / 3 * 3;
  encode(in, whole, out);
  std::size_t written = whole / 3 * 4;
  if (whole < n) {
    std::uint8_t last[4];
    encode(in + whole, n - whole, last);
    const std::size_t kept = format.pad ? 4 : n - whole + 1;
    std::memcpy(out + written, last, kept);
    written += kept;
  }
  if (format.url) to_url_alphabet(out, written);
  return written;
}

// Copies a run of characters into lines of the format's width, a line end between two
// lines; `column` carries the length of the unfinished line from one run to the next.
std::size_t put_in_lines(const std::uint8_t* chars, std::size_t n, std::uint8_t* out,
                         std::size_t& column, const text_format& format) noexcept {
  std::size_t written = 0;
  for (std::size_t taken = 0; taken < n;) {
    if (column == format.width) {
      std::memcpy(out + written, format.eol, format.eol_length);
      written += format.eol_length;
      column = 0;
    }
    const std::size_t k = std::min(n - taken, format.width - column);
    std::memcpy(out + written, chars + taken, k);
    written += k;
    taken += k;
    column += k;
  }
  return written;
}

// What a byte of text becomes before the decoder sees it: a standard character, 0 to
// drop it (a line end, with breaks), or a byte the decoder refuses ("!" for a "+" or
// "/" of URL-safe text, and for a NUL byte, which 0 cannot stand for). The scan that
// explains a refusal looks at the text as given, so which refused byte stands in for
// it does not matter.
constexpr std::array<std::uint8_t, 256> standard_characters(decode_format format) {
  std::array<std::uint8_t, 256> table{};
  for (std::size_t c = 0; c < table.size(); ++c) table[c] = static_cast<std::uint8_t>(c);
  table[0] = '!';
  if (format.url) {
    table['+'] = '!';
    table['/'] = '!';
    table['-'] = '+';
    table['_'] = '/';
  }
  if (format.breaks) table['\n'] = table['\r'] = 0;
  return table;
}
constexpr std::array<std::uint8_t, 256> standard_tables[4] = {
    standard_characters({false, false}), standard_characters({false, true}),
    standard_characters({true, false}), standard_characters({true, true})};

const std::uint8_t* standard_table(decode_format format) noexcept {
  return standard_tables[2 * format.url + format.breaks].data();
}

// Writes in[0, n) to out as the decoder's characters, dropping what the table maps to
// 0. Returns the characters written; out has room for n.
std::size_t to_standard(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                        const std::uint8_t* table) noexcept {
  std::size_t k = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t c = table[in[i]];
    out[k] = c;
    k += c != 0;
  }
  return k;
}

constexpr bool is_line_end(std::uint8_t c) noexcept { return c == '\n' || c == '\r'; }

// Whether c is a character of the format's alphabet.
bool in_alphabet(std::uint8_t c, decode_format format) noexcept {
  return (format.url ? url_reverse_table : reverse_table)[c] != not_base64;
}

// Decodes in[0, n), standard characters, n a multiple of 4, into out: true when every
// group is whole and valid.
bool decode_groups(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
  const std::size_t bytes = n / 4 * 3;
  const decode_result result = decode(in, n, out, bytes);
  return !result.malformed && result.length == bytes;
}

// Keeps in[0, n), n < 4 standard characters, as the decoder's unfinished group; false
// when one of them is not valid.
bool keep_group(text_decoder& d, const std::uint8_t* in, std::size_t n) noexcept {
  for (std::size_t i = 0; i < n; ++i) {
    if (reverse_table[in[i]] == not_base64) return false;
    d.group[i] = in[i];
  }
  d.group_length = n;
  return true;
}

// The start of the bytes that end in[0, n) and may be padding: "=", and line ends with
// breaks.
std::size_t trailing_run_start(const std::uint8_t* in, std::size_t n,
                               decode_format format) noexcept {
  while (n > 0 && (in[n - 1] == padding || (format.breaks && is_line_end(in[n - 1]))))
    --n;
  return n;
}

// Decodes in[0, n), a part of the text with no "=" that may be padding at its end, and
// adds the bytes to out[*written, out_size). False when it holds a byte that is not
// valid there; the decoder has then taken part of it.
bool decode_region(text_decoder& d, const std::uint8_t* in, std::size_t n,
                   std::uint8_t* out, std::size_t out_size,
                   std::size_t* written) noexcept {
  if (!d.format.url && !d.format.breaks && d.group_length == 0) {
    // Standard text is the decoder's own: no copy.
    const std::size_t whole = n / 4 * 4;
    if (*written + whole / 4 * 3 > out_size) return false;
    if (!decode_groups(in, whole, out + *written)) return false;
    *written += whole / 4 * 3;
    d.characters += n;
    d.offset += n;
    return keep_group(d, in + whole, n - whole);
  }
  const std::uint8_t* table = standard_table(d.format);
  std::uint8_t block[4 + decode_block];
  for (std::size_t taken = 0; taken < n;) {
    const std::size_t k = std::min(n - taken, decode_block);
    std::memcpy(block, d.group, d.group_length);
    const std::size_t added = to_standard(in + taken, k, block + d.group_length, table);
    const std::size_t chars = d.group_length + added;
    const std::size_t whole = chars / 4 * 4;
    if (*written + whole / 4 * 3 > out_size) return false;
    if (!decode_groups(block, whole, out + *written)) return false;
    *written += whole / 4 * 3;
    d.characters += added;
    if (!keep_group(d, block + whole, chars - whole)) return false;
    taken += k;
  }
  d.offset += n;
  return true;
}

// Takes in[0, n) one byte at a time as the next bytes of the text: counts characters
// and "=", and returns the first fault it meets (kind none when there is none).
text_fault scan(text_decoder& d, const std::uint8_t* in, std::size_t n) noexcept {
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t c = in[i];
    const std::uint64_t at = d.offset + i;
    if (d.format.breaks && is_line_end(c)) continue;
    if (c == padding) {
      if (d.pads == 0) d.first_pad = at;
      // A third "=" makes the first one too many: only two can be padding.
      if (++d.pads > 2) return {fault_kind::misplaced_pad, d.first_pad, padding, 0};
      ++d.characters;
      continue;
    }
    if (d.pads > 0) return {fault_kind::misplaced_pad, d.first_pad, padding, 0};
    if (!in_alphabet(c, d.format)) return {fault_kind::bad_byte, at, c, 0};
    ++d.characters;
  }
  d.offset += n;
  return {fault_kind::none, 0, 0, 0};
}

// Whether the whole text, every byte of it valid, has a length that decodes.
text_fault length_fault(const text_decoder& d) noexcept {
  const std::uint64_t data = d.characters - d.pads;
  if ((d.pads > 0 || !d.format.url) && d.characters % 4 != 0) {
    return {fault_kind::bad_length, 0, 0, d.characters};
  }
  if (d.format.url && d.pads == 0 && data % 4 == 1) {
    return {fault_kind::length_one_more, 0, 0, d.characters};
  }
  return {fault_kind::none, 0, 0, d.characters};
}

// The number of bytes in[0, n) equal to c.
std::size_t count_byte(const std::uint8_t* in, std::size_t n, std::uint8_t c) noexcept {
  std::size_t count = 0;
  for (const void* at; n > 0 && (at = std::memchr(in, c, n)) != nullptr; ++count) {
    const auto skip =
        static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - in) + 1;
    in += skip;
    n -= skip;
  }
  return count;
}

}  // namespace

std::uint64_t text_length(std::uint64_t n, const text_format& format) noexcept {
  const std::uint64_t rest = n % 3;
  const std::uint64_t chars = n / 3 * 4 + (rest == 0 ? 0 : format.pad ? 4 : rest + 1);
  if (format.width == 0 || chars == 0) return chars;
  const std::uint64_t lines = (chars + format.width - 1) / format.width;
  return chars + (format.final_eol ? lines : lines - 1) * format.eol_length;
}

void encode_text(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                 const text_format& format) noexcept {
  text_encoder encoder = start_encoding(format);
  encode_piece(encoder, in, n, true, out);
}

std::uint64_t piece_text_capacity(std::uint64_t n, const text_format& format) noexcept {
  const std::uint64_t chars = encoded_length(n);
  if (format.width == 0) return chars;
  return chars + (chars / format.width + 2) * format.eol_length;
}

std::size_t encode_piece(text_encoder& e, const std::uint8_t* in, std::size_t n,
                         bool final, std::uint8_t* out) noexcept {
  std::size_t written = 0;
  if (e.format.width == 0) {
    for (std::size_t taken = 0; taken < n; taken += encode_block) {
      const std::size_t k = std::min(n - taken, encode_block);
      written += encode_run(in + taken, k, out + written, e.format);
    }
  } else {
    std::uint8_t block[encode_block / 3 * 4];
    for (std::size_t taken = 0; taken < n; taken += encode_block) {
      const std::size_t chars =
          encode_run(in + taken, std::min(n - taken, encode_block), block, e.format);
      written += put_in_lines(block, chars, out + written, e.column, e.format);
    }
    if (final && e.format.final_eol && e.total + written > 0) {
      std::memcpy(out + written, e.format.eol, e.format.eol_length);
      written += e.format.eol_length;
    }
  }
  e.total += written;
  return written;
}

std::size_t decode_piece(text_decoder& d, const std::uint8_t* in, std::size_t n,
                         bool final, std::uint8_t* out, std::size_t out_size,
                         text_fault* fault) noexcept {
  std::size_t written = 0;
  std::size_t region = 0;
  // After an "=" only more "=" and line ends may come, and the scan below sees to it.
  if (d.pads == 0) {
    region = trailing_run_start(in, n, d.format);
    text_decoder before = d;
    if (!decode_region(d, in, region, out, out_size, &written)) {
      *fault = scan(before, in, region);
      return written;
    }
  }
  *fault = scan(d, in + region, n - region);
  if (fault->kind != fault_kind::none || !final) return written;
  *fault = length_fault(d);
  if (fault->kind != fault_kind::none) return written;
  // The unfinished group ends the text: 2 or 3 characters, 1 or 2 bytes; the bits of
  // its last character that fill no byte are dropped.
  if (d.group_length > 0 && written + d.group_length - 1 <= out_size) {
    decode(d.group, d.group_length, out + written, d.group_length - 1);
    written += d.group_length - 1;
  }
  return written;
}

bool decoded_length(const std::uint8_t* in, std::size_t n, decode_format format,
                    std::uint64_t* length) noexcept {
  std::uint64_t characters = n;
  if (format.breaks) characters -= count_byte(in, n, '\n') + count_byte(in, n, '\r');
  unsigned pads = 0;
  for (std::size_t i = n; i > 0; --i) {
    if (format.breaks && is_line_end(in[i - 1])) continue;
    if (in[i - 1] != padding) break;
    if (++pads > 2) return false;
  }
  text_decoder ending = start_decoding(format);
  ending.characters = characters;
  ending.pads = pads;
  if (length_fault(ending).kind != fault_kind::none) return false;
  const std::uint64_t data = characters - pads;
  *length = data / 4 * 3 + (data % 4 == 0 ? 0 : data % 4 - 1);
  return true;
}

text_fault find_fault(const std::uint8_t* in, std::size_t n,
                      decode_format format) noexcept {
  text_decoder d = start_decoding(format);
  const text_fault fault = scan(d, in, n);
  return fault.kind != fault_kind::none ? fault : length_fault(d);
}

}  // namespace b64
