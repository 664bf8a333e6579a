// libFuzzer target for base64 text with options (b64_text.h): for any input the library
// must decode and encode exactly as the model of b64_model.h does, whole and in pieces,
// and decode its own text back to the input.
//
// The first bytes of the input choose the options and the pieces; the rest is the
// payload, read once as text and once as bytes:
//   byte 0: bit 0 URL-safe decoding, bit 1 line ends skipped, bit 2 URL-safe encoding,
//           bit 3 padding, bit 4 "\r\n" line ends, bit 5 a final line end;
//   byte 1: bits 0-2 the line width (an index into widths), bits 3-5 the piece count k;
//   then k bytes, the lengths of the pieces before the last one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../../../src/b64_text.h"
#include "../b64_model.h"

namespace {

using model::bytes;
using model::decoded_text;

constexpr std::size_t widths[] = {0, 4, 8, 12, 16, 64, 72, 76};

// What the first bytes of the input chose.
struct choices {
  b64::decode_format decoding;
  b64::text_format encoding;
  std::vector<std::size_t> pieces;  // lengths of the pieces before the last
};

// Stops the run at the first disagreement, so libFuzzer keeps the input as a finding.
void require(bool holds) {
  if (!holds) __builtin_trap();
}

// The library's fault kind in the model's terms; traps on a value it does not name.
model::fault model_kind(b64::fault_kind kind) {
  switch (kind) {
    case b64::fault_kind::none:
      return model::fault::none;
    case b64::fault_kind::bad_byte:
      return model::fault::bad_byte;
    case b64::fault_kind::misplaced_pad:
      return model::fault::misplaced_pad;
    case b64::fault_kind::bad_length:
      return model::fault::bad_length;
    case b64::fault_kind::length_one_more:
      return model::fault::length_one_more;
  }
  __builtin_trap();
}

// The library's fault, or its bytes when there is none, as the model states results.
// The offset of a length fault names no byte, so it is left out.
decoded_text from_library(const b64::text_fault& fault, const bytes& data) {
  decoded_text result;
  result.kind = model_kind(fault.kind);
  if (result.kind == model::fault::none) {
    result.data = data;
    return result;
  }
  result.byte = fault.byte;
  result.characters = fault.characters;
  if (result.kind == model::fault::bad_byte || result.kind == model::fault::misplaced_pad)
    result.offset = fault.offset;
  return result;
}

// Requires two results to agree in every field.
void require_same(const decoded_text& a, const decoded_text& b) {
  require(a.kind == b.kind && a.offset == b.offset && a.byte == b.byte &&
          a.characters == b.characters && a.data == b.data);
}

// The text decoded as the R routines do it: decode_whole() into a vector of exactly
// the length it asks for, so that a write past it is caught.
decoded_text library_decode_whole(const bytes& text, b64::decode_format format) {
  bytes out;
  int requests = 0;
  const b64::text_fault fault =
      b64::decode_whole(text.data(), text.size(), format, [&](std::uint64_t length) {
        ++requests;
        out.resize(static_cast<std::size_t>(length));
        return out.data();
      });
  require(requests <= 1);
  return from_library(fault, out);
}

// The text decoded by decode_piece() in pieces of the given lengths (the rest in a last
// piece), each into a vector of piece_capacity() bytes, until a fault.
decoded_text library_decode_pieces(const bytes& text, b64::decode_format format,
                                   const std::vector<std::size_t>& lengths) {
  b64::text_decoder decoder = b64::start_decoding(format);
  bytes data;
  std::size_t start = 0;
  for (std::size_t k = 0;; ++k) {
    const bool final = k == lengths.size();
    const std::size_t n =
        final ? text.size() - start : std::min(lengths[k], text.size() - start);
    bytes out(static_cast<std::size_t>(b64::piece_capacity(n)));
    // A kind no call returns: from_library() traps if decode_piece() leaves it.
    b64::text_fault fault = {static_cast<b64::fault_kind>(99), 0, 0, 0};
    const std::size_t written = b64::decode_piece(decoder, text.data() + start, n, final,
                                                  out.data(), out.size(), &fault);
    require(written <= out.size());
    data.insert(data.end(), out.begin(), out.begin() + static_cast<long>(written));
    start += n;
    if (final || fault.kind != b64::fault_kind::none) return from_library(fault, data);
  }
}

// The text of in by encode_text() into a vector of text_length() bytes.
bytes library_encode_text(const bytes& in, const b64::text_format& format) {
  bytes out(static_cast<std::size_t>(b64::text_length(in.size(), format)));
  b64::encode_text(in.data(), in.size(), out.data(), format);
  return out;
}

// The text of in by encode_piece() in pieces of the given lengths cut down to whole
// groups (the rest in a last piece), each into a vector of piece_text_capacity() bytes.
bytes library_encode_pieces(const bytes& in, const b64::text_format& format,
                            const std::vector<std::size_t>& lengths) {
  b64::text_encoder encoder = b64::start_encoding(format);
  bytes text;
  std::size_t start = 0;
  for (std::size_t k = 0; k <= lengths.size(); ++k) {
    const bool final = k == lengths.size();
    const std::size_t rest = in.size() - start;
    const std::size_t n = final ? rest : std::min(lengths[k] / 3 * 3, rest / 3 * 3);
    bytes out(static_cast<std::size_t>(b64::piece_text_capacity(n, format)));
    const std::size_t written =
        b64::encode_piece(encoder, in.data() + start, n, final, out.data());
    require(written <= out.size());
    text.insert(text.end(), out.begin(), out.begin() + static_cast<long>(written));
    start += n;
  }
  return text;
}

// Reads the options and pieces from the first bytes of data; returns the bytes used,
// or 0 when the input is too short to hold them.
std::size_t read_choices(const std::uint8_t* data, std::size_t size, choices* c) {
  if (size < 2) return 0;
  const std::uint8_t options = data[0];
  const std::size_t piece_count = (data[1] >> 3) & 7;
  if (size < 2 + piece_count) return 0;
  c->decoding = {(options & 1) != 0, (options & 2) != 0};
  const bool crlf = (options & 16) != 0;
  c->encoding = {(options & 4) != 0,   (options & 8) != 0, widths[data[1] & 7],
                 crlf ? "\r\n" : "\n", crlf ? 2u : 1u,     (options & 32) != 0};
  c->pieces.assign(data + 2, data + 2 + piece_count);
  return 2 + piece_count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  choices c;
  const std::size_t header = read_choices(data, size, &c);
  if (header == 0) return 0;
  const bytes payload(data + header, data + size);

  // Decoding: the payload read as text, whole and in pieces.
  const decoded_text expected =
      model::decode_text(payload, c.decoding.url, c.decoding.breaks);
  require_same(library_decode_whole(payload, c.decoding), expected);
  require_same(library_decode_pieces(payload, c.decoding, c.pieces), expected);

  // Encoding: the payload read as bytes, whole and in pieces, then decoded back.
  const b64::text_format& f = c.encoding;
  const bytes text = model::encode_text(payload, f.url, f.pad, f.width,
                                        std::string(f.eol, f.eol_length), f.final_eol);
  require(library_encode_text(payload, f) == text);
  require(library_encode_pieces(payload, f, c.pieces) == text);
  const b64::decode_format back = {f.url, f.width > 0};
  const decoded_text round_trip = library_decode_whole(text, back);
  require_same(round_trip, model::decode_text(text, back.url, back.breaks));
  // Unpadded standard text decodes only in whole groups: the rules want its padding.
  if (f.pad || f.url || payload.size() % 3 == 0) {
    require(round_trip.kind == model::fault::none && round_trip.data == payload);
  }
  return 0;
}
