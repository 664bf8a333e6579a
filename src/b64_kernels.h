// Inside the codec core: the scalar walk and the block kernels that run ahead of it.
#ifndef CLIENT_B64_KERNELS_H
#define CLIENT_B64_KERNELS_H

#include "b64.h"

namespace b64 {

// How far a block kernel got: input consumed and output written, both at a group
// boundary (a multiple of 3 bytes and 4 characters), so the scalar code resumes there.
struct progress {
  std::size_t in;
  std::size_t out;
};

// The scalar encoder, the definition of the format: in[0, n) to out[0,
// encoded_length(n)).
void encode_scalar(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept;

// The scalar decoding walk into out[0, out_size), as b64::decode() describes it.
decode_result decode_scalar(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                            std::size_t out_size) noexcept;

// Kernels take whole blocks only: an encoder while its loads stay inside in[0, n)
// (out has room for encoded_length(n)); a decoder while every byte of the block is an
// alphabet character and its stores stay inside out[0, out_size). They never see "=",
// bad bytes or tails, and need the instruction set their name carries.
#if defined(__x86_64__)
#define CLIENT_B64_X86 1
bool cpu_has_avx2() noexcept;
progress encode_blocks_avx2(const std::uint8_t* in, std::size_t n,
                            std::uint8_t* out) noexcept;
progress decode_blocks_avx2(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                            std::size_t out_size) noexcept;
bool cpu_has_avx512vbmi() noexcept;
progress encode_blocks_avx512vbmi(const std::uint8_t* in, std::size_t n,
                                  std::uint8_t* out) noexcept;
progress decode_blocks_avx512vbmi(const std::uint8_t* in, std::size_t n,
                                  std::uint8_t* out, std::size_t out_size) noexcept;
#endif

#if defined(__arm__)
#define CLIENT_B64_ARM 1
bool cpu_has_neon() noexcept;
progress encode_blocks_neon(const std::uint8_t* in, std::size_t n,
                            std::uint8_t* out) noexcept;
progress decode_blocks_neon(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                            std::size_t out_size) noexcept;
#endif

// Advanced SIMD is part of every AArch64 CPU: these run without asking.
#if defined(__aarch64__) && defined(__ARM_NEON)
#define CLIENT_B64_ARM64 1
progress encode_blocks_neon64(const std::uint8_t* in, std::size_t n,
                              std::uint8_t* out) noexcept;
progress decode_blocks_neon64(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                              std::size_t out_size) noexcept;
#endif

}  // namespace b64

#endif  // CLIENT_B64_KERNELS_H
