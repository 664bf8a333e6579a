// The codec's entry points, run by the scalar code.
#include "b64_kernels.h"

namespace b64 {

void encode(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
  encode_scalar(in, n, out);
}

decode_result decode(const std::uint8_t* in, std::size_t n, std::uint8_t* out) noexcept {
  return decode(in, n, out, static_cast<std::size_t>(decoded_capacity(n)));
}

decode_result decode(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                     std::size_t out_size) noexcept {
  return decode_scalar(in, n, out, out_size);
}

}  // namespace b64
