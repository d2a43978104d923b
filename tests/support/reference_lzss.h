// A textbook LZSS decoder of the archive format: a 4096-byte ring buffer that starts out zero,
// written from slot 0xFEE, one byte at a time. The tests compare kelp's decoder with it, and the
// benchmarks time kelp's decoder against it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelp::test {

// Decodes into `out` (room for `limit` bytes) and returns the decoded length.
inline std::size_t reference_lzss_decode_into(const std::uint8_t* in, std::size_t size,
                                              std::uint8_t* out, std::size_t limit) {
  std::uint8_t ring[4096] = {};
  unsigned r = 0xFEE, flags = 0;
  std::size_t o = 0;
  const std::uint8_t* end = in + size;
  while (o < limit) {
    if (((flags >>= 1) & 0x100) == 0) {
      if (in >= end) break;
      flags = *in++ | 0xFF00u;
    }
    if (flags & 1) {
      if (in >= end) break;
      std::uint8_t c = *in++;
      out[o++] = c;
      ring[r++ & 0xFFF] = c;
    } else {
      if (end - in < 2) break;
      unsigned i = in[0] | (in[1] & 0xF0u) << 4, j = (in[1] & 0x0Fu) + 2;
      in += 2;
      for (unsigned k = 0; k <= j && o < limit; ++k) {
        std::uint8_t c = ring[(i + k) & 0xFFF];
        out[o++] = c;
        ring[r++ & 0xFFF] = c;
      }
    }
  }
  return o;
}

inline std::vector<std::uint8_t> reference_lzss_decode(const std::uint8_t* in, std::size_t size,
                                                       std::size_t limit = 0x2000000) {
  // Two coded bytes give at most 18 output bytes.
  std::vector<std::uint8_t> out(std::min(limit, size * 9));
  out.resize(reference_lzss_decode_into(in, size, out.data(), out.size()));
  return out;
}

}  // namespace kelp::test
