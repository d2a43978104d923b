// The decoder against the textbook decoder, on a work buffer kept between inputs so that
// clearing after longer earlier outputs is exercised; and the encoder's round trip.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "containers/lzss.h"
#include "reference_lzss.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kelp::WorkBuffer work = kelp::make_work_buffer();
  std::uint32_t length = kelp::lzss_decode(kelp::Bytes(data, size), work);
  std::vector<std::uint8_t> want = kelp::test::reference_lzss_decode(data, size);
  if (length != want.size() || !std::equal(want.begin(), want.end(), work.output())) std::abort();
  for (std::size_t at = length; at < std::min<std::size_t>(length + 8192, kelp::max_decoded_size);
       ++at) {
    if (work.output()[at] != 0) std::abort();
  }
  std::vector<std::uint8_t> coded = kelp::lzss_encode(kelp::Bytes(data, size));
  std::uint32_t round = kelp::lzss_decode(coded, work);
  if (round != size || !std::equal(data, data + size, work.output())) std::abort();
  return 0;
}
