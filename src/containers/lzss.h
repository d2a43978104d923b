// LZSS as the game's archives code it: a 4096-byte window that starts out zero and whose first
// write lands at slot 0xFEE, references of 3 to 18 bytes, and a flag byte before every eight
// tokens (bit set: a literal byte; bit clear: a two-byte reference).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "common/bytes.h"
#include "platform/platform.h"

namespace kelp {

constexpr std::size_t lzss_window = 4096;
constexpr std::size_t lzss_first_slot = 0xFEE;  // output position 0 belongs to this slot
constexpr std::size_t lzss_min_match = 3;
constexpr std::size_t lzss_max_match = 18;
constexpr std::size_t tokens_per_flag = 8;
// A reference is two bytes: the slot's low 8 bits, then its high 4 bits over the length less 3.
constexpr std::size_t reference_size = 2;
constexpr unsigned length_bits = 4;
constexpr unsigned slot_low_bits = 8;
constexpr std::uint8_t length_mask = 0x0F;

// Decoded entries are at most 32 MiB.
constexpr std::size_t max_decoded_size = 0x2000000;

// The block an archive's entries are decoded into, one at a time. Its output area is preceded by
// a window of zero bytes that stands for slots not yet written, and followed by a little slack
// for copies done in whole words.
struct WorkBuffer {
  platform::PageBlock block;
  std::size_t dirty = 0;  // bytes of the output area that may be non-zero

  std::uint8_t* output() const { return block.get() + lzss_window; }
  // The whole output area: the decoded entry, then zeros.
  Bytes contents() const { return Bytes(output(), max_decoded_size); }
};

// A work buffer of zero pages: parts that are never written cost no memory. Throws bad_alloc
// when the block cannot be had.
WorkBuffer make_work_buffer();

// Decodes `coded` into the work buffer's output area and returns the decoded length. On return
// every byte of the output area past that length is zero. Decoding stops at the end of the coded
// bytes (a reference cut short there is dropped) or at max_decoded_size (a reference crossing it
// is clipped). Each reference byte comes from the latest earlier output position of its window
// slot, or is zero where that slot was never written.
std::uint32_t lzss_decode(Bytes coded, WorkBuffer& work);

// Codes `input` so that lzss_decode gives it back exactly; matches are found by hash chains.
std::vector<std::uint8_t> lzss_encode(Bytes input);

}  // namespace kelp
