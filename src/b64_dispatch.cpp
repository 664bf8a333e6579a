// The codec's entry points: the fastest kernel this CPU runs takes whole blocks, the
// scalar code takes the rest. Building with CLIENT_B64_SCALAR_ONLY leaves kernels out;
// with CLIENT_B64_NO_AVX512, the AVX-512 ones, so that a harness built that way runs
// the code above the codec over AVX2 on a CPU that has both.
#include "b64_kernels.h"

namespace b64 {
namespace {

// Runs the block encoder this CPU supports, if any.
progress encode_blocks(const std::uint8_t* in, std::size_t n,
                       std::uint8_t* out) noexcept {
#if defined(CLIENT_B64_X86) && !defined(CLIENT_B64_SCALAR_ONLY)
#if !defined(CLIENT_B64_NO_AVX512)
  if (cpu_has_avx512vbmi()) return encode_blocks_avx512vbmi(in, n, out);
#endif
  if (cpu_has_avx2()) return encode_blocks_avx2(in, n, out);
#elif defined(CLIENT_B64_ARM) && !defined(CLIENT_B64_SCALAR_ONLY)
  if (cpu_has_neon()) return encode_blocks_neon(in, n, out);
#elif defined(CLIENT_B64_ARM64) && !defined(CLIENT_B64_SCALAR_ONLY)
  return encode_blocks_neon64(in, n, out);
#else
  static_cast<void>(in);
  static_cast<void>(n);
  static_cast<void>(out);
#endif
  return {0, 0};
}

// Runs the block decoder this CPU supports, if any.
progress decode_blocks(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                       std::size_t out_size) noexcept {
#if defined(CLIENT_B64_X86) && !defined(CLIENT_B64_SCALAR_ONLY)
#if !defined(CLIENT_B64_NO_AVX512)
  if (cpu_has_avx512vbmi()) return decode_blocks_avx512vbmi(in, n, out, out_size);
#endif
  if (cpu_has_avx2()) return decode_blocks_avx2(in, n, out, out_size);
#elif defined(CLIENT_B64_ARM) && !defined(CLIENT_B64_SCALAR_ONLY)
  if (cpu_has_neon()) return decode_blocks_neon(in, n, out, out_size);
#elif defined(CLIENT_B64_ARM64) && !defined(CLIENT_B64_SCALAR_ONLY)
  return decode_blocks_neon64(in, n, out, out_size);
#else
  static_cast<void>(in);
  static_cast<void>(n);
  static_cast<void>(out);
  static_cast<void>(out_size);
#endif
  return {0, 0};
}

}  // namespace

void encode(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
  const progress done = encode_blocks(in, n, out);
  encode_scalar(in + done.in, n - done.in, out + done.out);
}

decode_result decode(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
  return decode(in, n, out, static_cast<std::size_t>(decoded_capacity(n)));
}

decode_result decode(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                     std::size_t out_size) noexcept {
  const progress done = decode_blocks(in, n, out, out_size);
  decode_result rest =
      decode_scalar(in + done.in, n - done.in, out + done.out, out_size - done.out);
  rest.length += done.out;
  return rest;
}

}  // namespace b64
