// Runs the scalar codec and every block kernel this CPU has against the model of
// b64_model.h, output byte for byte, then the options code of b64_text.h over the kernel
// that the codec dispatches to, and checks that nothing is written out of bounds.
// Prints one line per codec path and exits non-zero after the first one with a
// mismatch. Built again with CLIENT_B64_SCALAR_ONLY and with CLIENT_B64_NO_AVX512, it
// runs the options code over the other kernels; only the default build checks the
// kernels themselves, once.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../../src/b64_kernels.h"
#include "../../src/b64_text.h"
#include "b64_model.h"

namespace {

using b64::progress;
using model::bytes;

constexpr std::size_t guard = 64;
constexpr std::uint8_t guard_byte = 0xA5;

// A codec path: a block kernel (none for the scalar path) with the scalar code after it.
struct path {
  const char* name;
  progress (*encode_blocks)(const std::uint8_t*, std::size_t, std::uint8_t*);
  progress (*decode_blocks)(const std::uint8_t*, std::size_t, std::uint8_t*, std::size_t);
};

// Output buffer of size n followed by guard bytes that must survive.
bytes guarded(std::size_t n) {
  bytes out(n + guard, guard_byte);
  std::fill(out.begin(), out.begin() + static_cast<long>(n), 0);
  return out;
}

// The same in a buffer kept from call to call, so that pieces cost no allocation.
void reuse_guarded(bytes& out, std::size_t n) { out.assign(n + guard, guard_byte); }

bool guard_intact(const bytes& out, std::size_t n) {
  for (std::size_t k = n; k < out.size(); ++k)
    if (out[k] != guard_byte) return false;
  return true;
}

bytes run_encode(const path& p, const bytes& in) {
  const std::size_t n_out = static_cast<std::size_t>(b64::encoded_length(in.size()));
  bytes out = guarded(n_out);
  const progress done = p.encode_blocks
                            ? p.encode_blocks(in.data(), in.size(), out.data())
                            : progress{0, 0};
  if (done.in % 3 != 0 || done.out != done.in / 3 * 4 || done.in > in.size()) return {};
  b64::encode_scalar(in.data() + done.in, in.size() - done.in, out.data() + done.out);
  if (!guard_intact(out, n_out)) return {1, 2, 3};  // never a valid encoding
  out.resize(n_out);
  return out;
}

// One decoding walk through this path into out[0, out_size): the block kernel, then
// the scalar code from where it stopped.
b64::decode_result walk_path(const path& p, const std::uint8_t* in, std::size_t n,
                             std::uint8_t* out, std::size_t out_size) {
  const progress done =
      p.decode_blocks ? p.decode_blocks(in, n, out, out_size) : progress{0, 0};
  if (done.in % 4 != 0 || done.out != done.in / 4 * 3 || done.out > out_size)
    return {~std::size_t{0}, true};
  b64::decode_result rest =
      b64::decode_scalar(in + done.in, n - done.in, out + done.out, out_size - done.out);
  rest.length += done.out;
  return rest;
}

// The routine's result through this path: the library's own steps
// (b64::decode_as_routine) over guarded blocks, the last of which is the result. A walk
// into one byte less than the padding announces checks that no kernel writes past its
// output. Returns {1, 2, 3, 4} (never a result) on a guard breach.
bytes run_decode(const path& p, const bytes& in) {
  const std::size_t n = in.size();
  if (n % 4 == 0 && b64::padded_length(in.data(), n) > 0) {
    const std::size_t short_size = b64::padded_length(in.data(), n) - 1;
    bytes short_out = guarded(short_size);
    walk_path(p, in.data(), n, short_out.data(), short_size);
    if (!guard_intact(short_out, short_size)) return {1, 2, 3, 4};
  }
  std::vector<bytes> blocks;
  std::vector<std::size_t> sizes;
  b64::decode_as_routine(
      in.data(), n,
      [&](std::size_t size) {
        blocks.push_back(guarded(size));
        sizes.push_back(size);
        return blocks.back().data();
      },
      [&](const std::uint8_t* text, std::size_t size, std::uint8_t* out,
          std::size_t out_size) { return walk_path(p, text, size, out, out_size); });
  for (std::size_t k = 0; k < blocks.size(); ++k)
    if (!guard_intact(blocks[k], sizes[k])) return {1, 2, 3, 4};
  bytes result = blocks.back();
  result.resize(sizes.back());
  return result;
}

std::string show(const bytes& b) {
  std::string s;
  for (std::uint8_t c : b) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x", c);
    s += hex;
  }
  return s;
}

struct tally {
  long cases = 0;
  long failures = 0;
};

void check(const path& p, const bytes& in, tally& t, const char* what) {
  ++t.cases;
  const bytes enc = run_encode(p, in);
  const bytes dec = run_decode(p, in);
  const bool enc_ok = enc == model::encode(in);
  const bool dec_ok = dec == model::decode(in);
  if ((enc_ok && dec_ok) || ++t.failures > 5) return;
  std::fprintf(stdout, "%s: %s %s mismatch for input %s\n", p.name, what,
               enc_ok ? "decode" : "encode", show(in).c_str());
}

// Checks every byte value at every position of in.
void check_every_byte(const path& p, const bytes& in, tally& t) {
  for (std::size_t pos = 0; pos < in.size(); ++pos) {
    for (int value = 0; value < 256; ++value) {
      bytes probe = in;
      probe[pos] = static_cast<std::uint8_t>(value);
      check(p, probe, t, "byte");
    }
  }
}

// Base64 text of random bytes, ended by each kind of padding.
bytes random_text(std::mt19937_64& rng, std::size_t n_bytes) {
  bytes raw(n_bytes);
  for (auto& b : raw) b = static_cast<std::uint8_t>(rng());
  return model::encode(raw);
}

void run_path(const path& p) {
  tally t;
  std::mt19937_64 rng(20261208);
  // Every length up to a few blocks: random bytes, and the text of random bytes.
  for (std::size_t n = 0; n <= 400; ++n) {
    bytes raw(n);
    for (auto& b : raw) b = static_cast<std::uint8_t>(rng());
    check(p, raw, t, "length");
    check(p, model::encode(raw), t, "length");
  }
  // Every byte value at every position of a text of a few blocks, and of its bytes.
  for (std::size_t n_bytes : {96u, 97u, 98u}) {
    const bytes text = random_text(rng, n_bytes);
    check_every_byte(p, text, t);
    if (n_bytes == 96) check_every_byte(p, bytes(text.begin(), text.begin() + 96), t);
  }
  // The same in a text of "A"s, whose values are all zero, so a kernel that checks a
  // block by OR-ing its lanes sees the probed lane alone. Its "==" makes a well-formed
  // result shorter than the zeros of a malformed one.
  bytes zeros(192, 'A');
  zeros[190] = zeros[191] = '=';
  check_every_byte(p, zeros, t);
  // Seeded random texts with a few damaged bytes ("=", bad, high) at random places.
  const std::uint8_t damage[] = {'=', '!', ' ', '\n', '-', '_', 0x80, 0xFF, 0, 'A'};
  for (int round = 0; round < 20000; ++round) {
    bytes text = random_text(rng, rng() % 600);
    const int hits = static_cast<int>(rng() % 3);
    for (int h = 0; h < hits && !text.empty(); ++h)
      text[rng() % text.size()] = damage[rng() % sizeof damage];
    if (rng() % 8 == 0 && !text.empty()) text.pop_back();
    check(p, text, t, "random");
  }
  std::fprintf(stdout, "%-7s %ld cases, %ld failed\n", p.name, t.cases, t.failures);
  if (t.failures) std::exit(1);
}

// Checks the scalar path and every kernel this CPU has against the model.
void run_kernels() {
  run_path({"scalar", nullptr, nullptr});
  int kernels = 0;
#if defined(CLIENT_B64_X86)
  if (b64::cpu_has_avx2()) {
    run_path({"avx2", b64::encode_blocks_avx2, b64::decode_blocks_avx2});
    ++kernels;
  }
  if (b64::cpu_has_avx512vbmi()) {
    run_path({"avx512", b64::encode_blocks_avx512vbmi, b64::decode_blocks_avx512vbmi});
    ++kernels;
  }
#endif
#if defined(CLIENT_B64_ARM)
  if (b64::cpu_has_neon()) {
    run_path({"neon", b64::encode_blocks_neon, b64::decode_blocks_neon});
    ++kernels;
  }
#endif
#if defined(CLIENT_B64_ARM64)
  run_path({"neon64", b64::encode_blocks_neon64, b64::decode_blocks_neon64});
  ++kernels;
#endif
  std::fprintf(stdout, "%d kernel(s) checked against the scalar codec\n", kernels);
}

// ---- Text with options: b64_text.h against the model ----

// Which kernels this build leaves in the dispatch, and whether it checks the kernels
// themselves: the default build does, the others only run the options code over the
// kernel their dispatch picks.
#if defined(CLIENT_B64_SCALAR_ONLY)
constexpr const char* build_name = "CLIENT_B64_SCALAR_ONLY";
constexpr bool kernel_checks_here = false;
#elif defined(CLIENT_B64_NO_AVX512)
constexpr const char* build_name = "CLIENT_B64_NO_AVX512";
constexpr bool kernel_checks_here = false;
#else
constexpr const char* build_name = "default";
constexpr bool kernel_checks_here = true;
#endif

// The kernel that b64::encode and b64::decode run, as b64_dispatch.cpp picks it.
const char* dispatched_kernel() {
#if defined(CLIENT_B64_SCALAR_ONLY)
  return "the scalar code alone";
#elif defined(CLIENT_B64_X86)
#if !defined(CLIENT_B64_NO_AVX512)
  if (b64::cpu_has_avx512vbmi()) return "avx512";
#endif
  return b64::cpu_has_avx2() ? "avx2" : "the scalar code alone";
#elif defined(CLIENT_B64_ARM)
  return b64::cpu_has_neon() ? "neon" : "the scalar code alone";
#elif defined(CLIENT_B64_ARM64)
  return "neon64";
#else
  return "the scalar code alone";
#endif
}

using model::decoded_text;

// Bytes that damage a text: each is refused by some decode format, most by all, and
// the line ends and "-", "_", "+", "/" are valid under others.
constexpr std::uint8_t damage_bytes[] = {'=', '!',  ' ',  '-',  '_',  '+',
                                         '/', 0x00, 0x80, 0xFF, '\n', '\r'};
// Line ends as texts from other systems hold them, CR alone and doubled ones too.
const char* const line_end_runs[] = {"\n", "\r", "\r\n", "\n\r", "\n\n", "\r\r\n"};

// The encoding format with the line end eol, a C string.
b64::text_format text_format_of(bool url, bool pad, std::size_t width, const char* eol,
                                bool final_eol) {
  return {url, pad, width, eol, std::strlen(eol), final_eol};
}

// The model's text of in in the given format.
bytes model_encode_text(const bytes& in, const b64::text_format& format) {
  return model::encode_text(in, format.url, format.pad, format.width,
                            std::string(format.eol, format.eol_length), format.final_eol);
}

// The model's decoding of text in the given format.
decoded_text model_decode_text(const bytes& text, b64::decode_format format) {
  return model::decode_text(text, format.url, format.breaks);
}

// n bytes from rng.
bytes random_bytes(std::mt19937_64& rng, std::size_t n) {
  bytes raw(n);
  for (auto& b : raw) b = static_cast<std::uint8_t>(rng());
  return raw;
}

// Lengths of random pieces, multiples of unit, empty ones among them, that add up to
// at least n: the last ones may run past the end, and an empty one may follow.
std::vector<std::size_t> random_pieces(std::mt19937_64& rng, std::size_t n,
                                       std::size_t unit) {
  const std::size_t largest_choices[] = {1, 2, 3, 7, n / unit / 4 + 1, n / unit + 1};
  const std::size_t largest = largest_choices[rng() % 6];
  std::vector<std::size_t> lengths;
  std::size_t covered = 0;
  while (covered < n) {
    const std::size_t length = rng() % 4 == 0 ? 0 : unit * (1 + rng() % largest);
    lengths.push_back(length);
    covered += length;
  }
  if (rng() % 4 == 0) lengths.push_back(0);
  return lengths;
}

// The text of in by encode_text() into a guarded buffer of text_length() bytes;
// {1, 2, 3}, never a text, on a write past it.
bytes library_encode_text(const bytes& in, const b64::text_format& format) {
  const auto n_out = static_cast<std::size_t>(b64::text_length(in.size(), format));
  bytes out = guarded(n_out);
  b64::encode_text(in.data(), in.size(), out.data(), format);
  if (!guard_intact(out, n_out)) return {1, 2, 3};
  out.resize(n_out);
  return out;
}

// The text of in by encode_piece() in pieces of the given lengths (multiples of 3, the
// rest in a last piece), each into a guarded buffer of piece_text_capacity() bytes;
// {1, 2, 3} on a write past one.
bytes library_encode_pieces(const bytes& in, const b64::text_format& format,
                            const std::vector<std::size_t>& lengths) {
  b64::text_encoder encoder = b64::start_encoding(format);
  bytes text;
  bytes out;
  std::size_t start = 0;
  for (std::size_t k = 0; k <= lengths.size(); ++k) {
    const bool final = k == lengths.size();
    const std::size_t rest = in.size() - start;
    const std::size_t n = final ? rest : std::min(lengths[k], rest / 3 * 3);
    const auto capacity = static_cast<std::size_t>(b64::piece_text_capacity(n, format));
    reuse_guarded(out, capacity);
    const std::size_t written =
        b64::encode_piece(encoder, in.data() + start, n, final, out.data());
    if (written > capacity || !guard_intact(out, capacity)) return {1, 2, 3};
    text.insert(text.end(), out.begin(), out.begin() + static_cast<long>(written));
    start += n;
  }
  return text;
}

// What the library returned, in the model's terms, or what it did wrong on the way.
struct outcome {
  decoded_text result;
  const char* broken = nullptr;
};

// Whether the fault names a byte of the text.
bool is_byte_fault(model::fault kind) {
  return kind == model::fault::bad_byte || kind == model::fault::misplaced_pad;
}

// Whether the fault is about the length of the whole text.
bool is_length_fault(model::fault kind) {
  return kind == model::fault::bad_length || kind == model::fault::length_one_more;
}

// The library's fault kind in the model's terms; false for a value it does not name.
bool model_kind(b64::fault_kind kind, model::fault* out) {
  switch (kind) {
    case b64::fault_kind::none:
      *out = model::fault::none;
      return true;
    case b64::fault_kind::bad_byte:
      *out = model::fault::bad_byte;
      return true;
    case b64::fault_kind::misplaced_pad:
      *out = model::fault::misplaced_pad;
      return true;
    case b64::fault_kind::bad_length:
      *out = model::fault::bad_length;
      return true;
    case b64::fault_kind::length_one_more:
      *out = model::fault::length_one_more;
      return true;
  }
  return false;
}

// The library's fault, or its bytes when there is none, as the model states results.
// The offset of a length fault names no byte, so it is left out of the comparison.
outcome from_library(const b64::text_fault& fault, const bytes& data) {
  outcome o;
  if (!model_kind(fault.kind, &o.result.kind)) {
    o.broken = "left the fault unset";
    return o;
  }
  if (o.result.kind == model::fault::none) {
    o.result.data = data;
    return o;
  }
  o.result.byte = fault.byte;
  o.result.characters = fault.characters;
  if (is_byte_fault(o.result.kind)) o.result.offset = fault.offset;
  return o;
}

// A fault value that no call returns, to see that decode_piece() sets its fault.
b64::text_fault unset_fault() { return {static_cast<b64::fault_kind>(99), 0, 0, 0}; }

// The text decoded by decode_whole(), into a guarded buffer of the length it asks for.
outcome library_decode_whole(const bytes& text, b64::decode_format format) {
  bytes buffer;
  std::uint64_t asked = 0;
  int requests = 0;
  const b64::text_fault fault =
      b64::decode_whole(text.data(), text.size(), format, [&](std::uint64_t length) {
        ++requests;
        asked = length;
        buffer = guarded(static_cast<std::size_t>(length));
        return buffer.data();
      });
  const auto length = static_cast<long>(asked);
  outcome o = from_library(fault, bytes(buffer.begin(), buffer.begin() + length));
  if (o.broken) return o;
  if (requests > 1) {
    o.broken = "asked for memory twice";
  } else if (requests == 1 && !guard_intact(buffer, static_cast<std::size_t>(asked))) {
    o.broken = "wrote past the length it asked for";
  } else if (requests == 1 && is_length_fault(o.result.kind)) {
    o.broken = "asked for memory for a text of the wrong length";
  } else if (requests == 0 && o.result.kind == model::fault::none) {
    o.broken = "decoded without asking for memory";
  }
  return o;
}

// The text decoded by decode_piece() in pieces of the given lengths (the rest in a last
// piece), each into a guarded buffer of piece_capacity() bytes, until a fault.
outcome library_decode_pieces(const bytes& text, b64::decode_format format,
                              const std::vector<std::size_t>& lengths) {
  b64::text_decoder decoder = b64::start_decoding(format);
  bytes data;
  bytes out;
  std::size_t start = 0;
  for (std::size_t k = 0;; ++k) {
    const bool final = k == lengths.size();
    const std::size_t rest = text.size() - start;
    const std::size_t n = final ? rest : std::min(lengths[k], rest);
    const auto capacity = static_cast<std::size_t>(b64::piece_capacity(n));
    reuse_guarded(out, capacity);
    b64::text_fault fault = unset_fault();
    const std::size_t written = b64::decode_piece(decoder, text.data() + start, n, final,
                                                  out.data(), capacity, &fault);
    if (written > capacity || !guard_intact(out, capacity)) {
      outcome o;
      o.broken = "wrote past piece_capacity()";
      return o;
    }
    data.insert(data.end(), out.begin(), out.begin() + static_cast<long>(written));
    start += n;
    if (final || fault.kind != b64::fault_kind::none) return from_library(fault, data);
  }
}

// The fault kind as b64_text.h spells it.
const char* kind_name(model::fault kind) {
  switch (kind) {
    case model::fault::none:
      return "none";
    case model::fault::bad_byte:
      return "bad_byte";
    case model::fault::misplaced_pad:
      return "misplaced_pad";
    case model::fault::bad_length:
      return "bad_length";
    case model::fault::length_one_more:
      return "length_one_more";
  }
  return "?";
}

// The result in a line: its bytes in hex, or its fault.
std::string describe(const decoded_text& r) {
  if (r.kind == model::fault::none) return "bytes " + show(r.data);
  char text[120];
  std::snprintf(text, sizeof text, "%s offset %llu byte 0x%02x characters %llu",
                kind_name(r.kind), static_cast<unsigned long long>(r.offset), r.byte,
                static_cast<unsigned long long>(r.characters));
  return text;
}

// Whether two results agree in every field.
bool same(const decoded_text& a, const decoded_text& b) {
  return a.kind == b.kind && a.offset == b.offset && a.byte == b.byte &&
         a.characters == b.characters && a.data == b.data;
}

// Counts a case, and a failure when the library's outcome differs from the expected
// result; prints the first few failures.
void expect_decoding(const outcome& got, const decoded_text& expected, const bytes& text,
                     b64::decode_format format, const char* how, tally& t) {
  ++t.cases;
  if (!got.broken && same(got.result, expected)) return;
  if (++t.failures > 10) return;
  std::fprintf(stdout, "text: %s (url %d, breaks %d) of %s: %s, expected %s\n", how,
               format.url, format.breaks, show(text).c_str(),
               got.broken ? got.broken : describe(got.result).c_str(),
               describe(expected).c_str());
}

// Counts a case, and a failure when the library's text differs from the expected one;
// prints the first few failures.
void expect_text(const bytes& got, const bytes& expected, const bytes& in,
                 const b64::text_format& format, const char* how, tally& t) {
  ++t.cases;
  if (got == expected) return;
  if (++t.failures > 10) return;
  std::fprintf(stdout,
               "text: %s (url %d, pad %d, width %zu, eol %zu, final %d) of %s: %s, "
               "expected %s\n",
               how, format.url, format.pad, format.width, format.eol_length,
               format.final_eol, show(in).c_str(), show(got).c_str(),
               show(expected).c_str());
}

// Checks one text under one format: decode_whole(), decode_piece() in random pieces
// and, with every_cut, in two pieces cut at every point, all against the model.
void check_decoding(const bytes& text, b64::decode_format format, bool every_cut,
                    std::mt19937_64& rng, tally& t) {
  const decoded_text expected = model_decode_text(text, format);
  expect_decoding(library_decode_whole(text, format), expected, text, format,
                  "decode_whole", t);
  expect_decoding(library_decode_pieces(text, format, random_pieces(rng, text.size(), 1)),
                  expected, text, format, "decode_piece in random pieces", t);
  if (!every_cut) return;
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    expect_decoding(library_decode_pieces(text, format, {cut}), expected, text, format,
                    "decode_piece in two pieces", t);
  }
}

// Checks the text of in under one format: encode_text() whole and encode_piece() in
// random pieces against the model, then its decoding, which must give in back when the
// rules let it (padded or URL-safe text, or whole groups).
void check_encoding(const bytes& in, const b64::text_format& format, std::mt19937_64& rng,
                    tally& t) {
  const bytes expected = model_encode_text(in, format);
  expect_text(library_encode_text(in, format), expected, in, format, "encode_text", t);
  expect_text(library_encode_pieces(in, format, random_pieces(rng, in.size(), 3)),
              expected, in, format, "encode_piece", t);
  ++t.cases;
  if (b64::text_length(in.size(), format) != expected.size() && ++t.failures <= 10)
    std::fprintf(stdout, "text: text_length(%zu) (pad %d, width %zu) is not %zu\n",
                 in.size(), format.pad, format.width, expected.size());
  const b64::decode_format back = {format.url, format.width > 0};
  check_decoding(expected, back, false, rng, t);
  if (format.pad || format.url || in.size() % 3 == 0) {
    decoded_text original;
    original.data = in;
    expect_decoding({model_decode_text(expected, back), nullptr}, original, expected,
                    back, "the model's round trip", t);
  }
}

// Every width from 4 to 200 and one line, both line ends, a final one or none, both
// alphabets padded or not; every input length up to a few hundred bytes.
void check_encoding_sweep(std::mt19937_64& rng, tally& t) {
  const bytes raw = random_bytes(rng, 256);
  for (std::size_t width = 0; width <= 200; width += 4) {
    for (const char* eol : {"\n", "\r\n"}) {
      for (int flags = 0; flags < 8; ++flags) {
        const b64::text_format format =
            text_format_of(flags & 1, flags & 2, width, eol, flags & 4);
        for (std::size_t n = 0; n <= raw.size(); ++n)
          check_encoding(bytes(raw.begin(), raw.begin() + static_cast<long>(n)), format,
                         rng, t);
      }
    }
  }
}

// Texts long enough to cross the blocks that encode_piece() and decode_piece() take at
// a time, encoded and decoded whole and in pieces, then damaged once far in.
void check_long_texts(std::mt19937_64& rng, tally& t) {
  for (std::size_t n : {12287u, 12288u, 12289u, 16384u, 36866u, 50001u}) {
    const bytes raw = random_bytes(rng, n);
    for (int flags = 0; flags < 12; ++flags) {
      const std::size_t width = flags < 4 ? 0 : flags < 8 ? 76 : 64;
      const b64::text_format format =
          text_format_of(flags & 1, flags & 2, width, flags < 8 ? "\r\n" : "\n", true);
      check_encoding(raw, format, rng, t);
      bytes text = model_encode_text(raw, format);
      text[text.size() - 1 - rng() % (text.size() / 2)] =
          damage_bytes[rng() % sizeof damage_bytes];
      check_decoding(text, {format.url, width > 0}, false, rng, t);
    }
  }
}

// The texts of short inputs in every alphabet and padding, on one line and in short
// lines of either line end.
std::vector<bytes> short_texts(std::mt19937_64& rng) {
  std::vector<bytes> texts;
  for (std::size_t n = 0; n <= 7; ++n) {
    const bytes raw = random_bytes(rng, n);
    for (int flags = 0; flags < 16; ++flags) {
      const std::size_t width = (flags & 12) == 0 ? 0 : (flags & 12) == 4 ? 4 : 8;
      const char* eol = (flags & 12) == 8 ? "\r\n" : "\n";
      texts.push_back(model_encode_text(
          raw, text_format_of(flags & 1, flags & 2, width, eol, n & 1)));
    }
  }
  return texts;
}

// The fault a byte that is neither a character of the format's alphabet, nor "=", nor
// a skipped line end makes at offset at of a text that was valid before: the padding's
// first "=" if one stands before it, otherwise the byte itself.
decoded_text expected_substitution_fault(const bytes& text, std::size_t at) {
  decoded_text fault;
  const auto first_pad =
      static_cast<std::size_t>(std::find(text.begin(), text.end(), '=') - text.begin());
  fault.kind = first_pad < at ? model::fault::misplaced_pad : model::fault::bad_byte;
  fault.offset = first_pad < at ? first_pad : at;
  fault.byte = text[fault.offset];
  return fault;
}

// Whether c is plainly outside the format: neither a character of its alphabet, nor
// "=", nor a line end it skips.
bool plainly_bad(std::uint8_t c, b64::decode_format format) {
  if (c == '=' || (format.breaks && model::is_line_end(c))) return false;
  return model::text_value_of(c, format.url) < 0;
}

// Every damaging byte in place of every byte of short texts, and inserted at every
// point, as are runs of line ends; each under every decode format, cut at every point
// too. A plainly bad byte in a valid text must be found exactly where it stands.
void check_damaged_short_texts(std::mt19937_64& rng, tally& t) {
  std::vector<bytes> damaged;
  for (const bytes& text : short_texts(rng)) {
    for (std::size_t at = 0; at <= text.size(); ++at) {
      for (std::uint8_t c : damage_bytes) {
        bytes inserted = text;
        inserted.insert(inserted.begin() + static_cast<long>(at), c);
        damaged.push_back(inserted);
      }
      for (const char* run : line_end_runs) {
        bytes inserted = text;
        inserted.insert(inserted.begin() + static_cast<long>(at), run,
                        run + std::strlen(run));
        damaged.push_back(inserted);
      }
    }
    for (int url = 0; url < 2; ++url) {
      for (int breaks = 0; breaks < 2; ++breaks) {
        const b64::decode_format format = {url == 1, breaks == 1};
        check_decoding(text, format, true, rng, t);
        const bool valid = model_decode_text(text, format).kind == model::fault::none;
        for (std::size_t at = 0; at < text.size(); ++at) {
          for (std::uint8_t c : damage_bytes) {
            bytes replaced = text;
            replaced[at] = c;
            check_decoding(replaced, format, true, rng, t);
            if (!valid || !plainly_bad(c, format)) continue;
            expect_decoding({model_decode_text(replaced, format), nullptr},
                            expected_substitution_fault(replaced, at), replaced, format,
                            "the model's offset", t);
          }
        }
      }
    }
  }
  for (const bytes& text : damaged) {
    for (int format = 0; format < 4; ++format)
      check_decoding(text, {(format & 1) == 1, (format & 2) == 2}, true, rng, t);
  }
}

// Texts of random inputs cut into lines of irregular lengths by random line ends, CR
// alone among them; decoded with breaks they give the input back.
void check_irregular_lines(std::mt19937_64& rng, tally& t) {
  for (int round = 0; round < 3000; ++round) {
    const bytes raw = random_bytes(rng, rng() % 80);
    const bool url = rng() & 1;
    const bool pad = !url || (rng() & 1);
    bytes text = model_encode_text(raw, text_format_of(url, pad, 0, "\n", false));
    for (int breaks = static_cast<int>(rng() % 9); breaks > 0; --breaks) {
      const char* run = line_end_runs[rng() % 6];
      const auto at = static_cast<long>(rng() % (text.size() + 1));
      text.insert(text.begin() + at, run, run + std::strlen(run));
    }
    decoded_text original;
    original.data = raw;
    expect_decoding({model_decode_text(text, {url, true}), nullptr}, original, text,
                    {url, true}, "the model's irregular lines", t);
    check_decoding(text, {url, true}, round % 10 == 0, rng, t);
    check_decoding(text, {url, false}, false, rng, t);
  }
}

// Seeded random texts in random formats with a few damaging bytes at random places,
// decoded under a random format in random pieces.
void check_random_damage(std::mt19937_64& rng, tally& t) {
  for (int round = 0; round < 20000; ++round) {
    // One draw per line: the order in which arguments are evaluated is unspecified.
    const std::size_t width = rng() % 3 == 0 ? 0 : 4 * (1 + rng() % 50);
    const bool url = rng() & 1;
    const bool pad = rng() & 1;
    const char* eol = rng() & 1 ? "\n" : "\r\n";
    const b64::text_format format = text_format_of(url, pad, width, eol, rng() & 1);
    bytes text = model_encode_text(random_bytes(rng, rng() % 600), format);
    for (int hits = static_cast<int>(rng() % 3); hits > 0 && !text.empty(); --hits)
      text[rng() % text.size()] = damage_bytes[rng() % sizeof damage_bytes];
    if (rng() % 8 == 0 && !text.empty()) text.pop_back();
    const b64::decode_format decoding = {rng() % 4 != 0 ? format.url : !format.url,
                                         rng() % 4 != 0 ? width > 0 : width == 0};
    check_decoding(text, decoding, false, rng, t);
  }
}

// Checks the options code against the model; prints its line, exits non-zero after a
// failure.
void run_text() {
  tally t;
  std::mt19937_64 rng(20261209);
  check_encoding_sweep(rng, t);
  check_long_texts(rng, t);
  check_damaged_short_texts(rng, t);
  check_irregular_lines(rng, t);
  check_random_damage(rng, t);
  std::fprintf(stdout, "%-7s %ld cases, %ld failed\n", "text", t.cases, t.failures);
  if (t.failures) std::exit(1);
}

}  // namespace

int main() {
  std::fprintf(stdout, "build: %s, b64::encode and b64::decode on %s\n", build_name,
               dispatched_kernel());
  if (kernel_checks_here) run_kernels();
  run_text();
  return 0;
}
