// Runs the codec over SIZE bytes of input (1 MiB if not given) a given number of
// times, for instruction counts: b64_count encode|decode REPS [SIZE]. Built with
// CLIENT_B64_SCALAR_ONLY to count the scalar path; the difference between two REPS
// values cancels the set-up.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../src/b64.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 2;
  const bool decode = std::strcmp(argv[1], "decode") == 0;
  const long reps = std::strtol(argv[2], nullptr, 10);
  const std::size_t n =
      argc == 4 ? std::strtoul(argv[3], nullptr, 10) : std::size_t{1} << 20;
  // Text of exactly n characters ending in one "=", or n bytes of data.
  std::vector<std::uint8_t> data(decode ? n / 4 * 3 - 1 : n);
  std::uint32_t state = 12345;
  for (auto& b : data)
    b = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 24);
  std::vector<std::uint8_t> text(b64::encoded_length(data.size()));
  b64::encode(data.data(), data.size(), text.data());
  std::vector<std::uint8_t> out(decode ? data.size() : text.size());
  unsigned sink = 0;
  for (long r = 0; r < reps; ++r) {
    if (decode) {
      sink += static_cast<unsigned>(
          b64::decode(text.data(), text.size(), out.data(), out.size()).length);
    } else {
      b64::encode(data.data(), data.size(), out.data());
    }
    sink += out[r % out.size()];
  }
  return static_cast<int>(sink & 1) * 0;
}
