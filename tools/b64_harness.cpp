// Runs the scalar codec and every block kernel this CPU has against the model of
// b64_model.h, output byte for byte, and checks that nothing is written out of bounds.
// Prints one line per codec path and exits non-zero on the first mismatch.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../src/b64_kernels.h"
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

// One decoding attempt into out[0, out_size).
b64::decode_result run_decode_into(const path& p, const bytes& in, bytes& out,
                                   std::size_t out_size) {
  const progress done = p.decode_blocks
                            ? p.decode_blocks(in.data(), in.size(), out.data(), out_size)
                            : progress{0, 0};
  if (done.in % 4 != 0 || done.out != done.in / 4 * 3 || done.out > out_size)
    return {~std::size_t{0}, true};
  b64::decode_result rest =
      b64::decode_scalar(in.data() + done.in, in.size() - done.in, out.data() + done.out,
                         out_size - done.out);
  rest.length += done.out;
  return rest;
}

// The routine's result through this path: exact-length attempt first, as the glue does,
// then the full-capacity walk; a walk into one byte less checks only the guard. Returns
// {1, 2, 3, 4} (never a result) on a guard breach.
bytes run_decode(const path& p, const bytes& in) {
  const std::size_t n = in.size();
  const std::size_t capacity = 3 * (n / 4);
  if (n % 4 != 0) return bytes(capacity, 0);
  const std::size_t expected = b64::padded_length(in.data(), n);
  // The glue never passes an output shorter than that, but no kernel may write past one.
  if (expected > 0) {
    bytes short_out = guarded(expected - 1);
    run_decode_into(p, in, short_out, expected - 1);
    if (!guard_intact(short_out, expected - 1)) return {1, 2, 3, 4};
  }
  bytes exact = guarded(expected);
  const b64::decode_result first = run_decode_into(p, in, exact, expected);
  if (!guard_intact(exact, expected)) return {1, 2, 3, 4};
  if (!first.malformed && first.length == expected) {
    exact.resize(expected);
    return exact;
  }
  bytes full = guarded(capacity);
  const b64::decode_result second = run_decode_into(p, in, full, capacity);
  if (!guard_intact(full, capacity)) return {1, 2, 3, 4};
  full.resize(second.malformed ? capacity : second.length);
  return full;
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

}  // namespace

int main() {
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
  return 0;
}
