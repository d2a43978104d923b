// A textbook LZSS decoder of the archive format: a 4096-byte ring buffer that starts out zero,
// written from slot 0xFEE, one byte at a time. The tests compare kelp's decoder with it, and the
// benchmarks time kelp's decoder against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelp::test {

inline std::vector<std::uint8_t> reference_lzss_decode(const std::uint8_t* in, std::size_t size,
                                                       std::size_t limit = 0x2000000) {
  std::vector<std::uint8_t> out;
  std::uint8_t ring[4096] = {};
  unsigned r = 0xFEE, flags = 0;
  const std::uint8_t* end = in + size;
  for (;;) {
    if (((flags >>= 1) & 0x100) == 0) {
      if (in >= end) break;
      flags = *in++ | 0xFF00u;
    }
    if (flags & 1) {
      if (in >= end || out.size() >= limit) break;
      std::uint8_t c = *in++;
      out.push_back(c);
      ring[r++ & 0xFFF] = c;
    } else {
      if (end - in < 2) break;
      unsigned i = in[0] | (in[1] & 0xF0u) << 4, j = (in[1] & 0x0Fu) + 2;
      in += 2;
      for (unsigned k = 0; k <= j && out.size() < limit; ++k) {
        std::uint8_t c = ring[(i + k) & 0xFFF];
        out.push_back(c);
        ring[r++ & 0xFFF] = c;
      }
    }
    if (out.size() >= limit) break;
  }
  return out;
}

}  // namespace kelp::test
