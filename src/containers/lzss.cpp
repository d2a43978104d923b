#include "containers/lzss.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace kelp {

namespace {

// References are copied in 8-byte words, three for a whole reference of up to 18 bytes.
constexpr std::size_t word = 8;
constexpr std::size_t max_overshoot = 3 * word - lzss_min_match;
constexpr std::size_t slack = 4 * word;
constexpr std::uint8_t all_literals = 0xFF;

// Output position p belongs to slot (p + 0xFEE) mod 4096, so a reference to `slot` made at
// `position` copies from the latest earlier position of that slot, 1 to 4096 bytes back. The
// zero window before the output area stands for slots never written.
std::size_t reference_distance(std::size_t position, std::size_t slot) {
  std::size_t distance = (position + lzss_first_slot + lzss_window - slot) % lzss_window;
  return distance == 0 ? lzss_window : distance;
}

// The slot a reference names to copy from `distance` bytes back (the inverse of the above).
std::size_t reference_slot(std::size_t position, std::size_t distance) {
  return (position + lzss_first_slot + lzss_window - distance) % lzss_window;
}

// Copies a reference's bytes. Whole words are copied, so up to max_overshoot bytes past the
// reference's end may be written too; later output or the final clearing overwrites them.
template <bool whole_reference>
void copy_reference(std::uint8_t* out, std::size_t distance, std::size_t length) {
  const std::uint8_t* from = out - distance;
  if (distance >= word) {
    // Each word is read only after it has been written, so overlapping runs repeat correctly.
    if (whole_reference) {
      std::memcpy(out, from, word);
      std::memcpy(out + word, from + word, word);
      std::memcpy(out + 2 * word, from + 2 * word, word);
    } else {
      for (std::size_t done = 0; done < length; done += word)
        std::memcpy(out + done, from + done, word);
    }
  } else if (distance == 1) {
    std::memset(out, from[0], length);
  } else {
    for (std::size_t k = 0; k < length; ++k) out[k] = from[k];
  }
}

// A group is a flag byte and up to eight tokens: at most 17 coded bytes and 144 output bytes.
constexpr std::size_t max_group_input = 1 + tokens_per_flag * reference_size;
constexpr std::size_t max_group_output = tokens_per_flag * lzss_max_match;

struct Decoder {
  const std::uint8_t* in;
  const std::uint8_t* in_end;
  std::uint8_t* start;
  std::uint8_t* out;
  std::uint8_t* limit;
};

// Decodes one group. Unchecked groups are those that cannot reach either end, which the caller
// has made sure of; checked ones stop at the end of the input or output.
template <bool checked>
void decode_group(Decoder& d) {
  unsigned flags = *d.in++;
  if (flags == all_literals && (!checked || (d.in_end - d.in >= 8 && d.limit - d.out >= 8))) {
    std::memcpy(d.out, d.in, tokens_per_flag);
    d.in += tokens_per_flag, d.out += tokens_per_flag;
    return;
  }
  for (std::size_t token = 0; token < tokens_per_flag; ++token, flags >>= 1) {
    if (checked && (d.in == d.in_end || d.out == d.limit)) return;
    if (flags & 1) {
      *d.out++ = *d.in++;
      continue;
    }
    if (checked && d.in_end - d.in < static_cast<std::ptrdiff_t>(reference_size)) {
      d.in = d.in_end;  // a reference cut short by the end of the data is dropped
      return;
    }
    std::size_t slot = d.in[0] | std::size_t{d.in[1]} >> length_bits << slot_low_bits;
    std::size_t length = (d.in[1] & length_mask) + lzss_min_match;
    d.in += reference_size;
    if (checked) length = std::min<std::size_t>(length, d.limit - d.out);
    copy_reference<!checked>(d.out, reference_distance(d.out - d.start, slot), length);
    d.out += length;
  }
}

}  // namespace

WorkBuffer make_work_buffer() {
  platform::PageBlock block = platform::allocate_pages(lzss_window + max_decoded_size + slack);
  if (!block) throw std::bad_alloc();
  return WorkBuffer{std::move(block), 0};
}

std::uint32_t lzss_decode(Bytes coded, WorkBuffer& work) {
  std::uint8_t* start = work.output();
  Decoder d{coded.data(), coded.data() + coded.size(), start, start, start + max_decoded_size};
  while (d.in < d.in_end && d.out < d.limit) {
    bool far_from_ends = d.in_end - d.in >= static_cast<std::ptrdiff_t>(max_group_input) &&
                         d.limit - d.out >= static_cast<std::ptrdiff_t>(max_group_output);
    far_from_ends ? decode_group<false>(d) : decode_group<true>(d);
  }
  std::size_t decoded = d.out - start;
  std::size_t stale = std::max(work.dirty, decoded + max_overshoot);
  std::memset(d.out, 0, stale - decoded);
  work.dirty = decoded;
  return static_cast<std::uint32_t>(decoded);
}

namespace {

// Hash chains over a text made of the zero window followed by the input, so that matches may
// reach back into the window, as the decoder allows.
struct Matcher {
  static constexpr std::size_t hash_bits = 15;
  static constexpr std::size_t max_chain = 256;
  static constexpr std::uint32_t none = 0xFFFFFFFF;

  std::vector<std::uint8_t> text;
  std::vector<std::uint32_t> head = std::vector<std::uint32_t>(std::size_t{1} << hash_bits, none);
  std::vector<std::uint32_t> previous = std::vector<std::uint32_t>(lzss_window, none);

  std::size_t hash(std::size_t at) const {
    return ((text[at] << 10) ^ (text[at + 1] << 5) ^ text[at + 2]) & ((1u << hash_bits) - 1);
  }
  void insert(std::size_t at) {
    if (at + lzss_min_match > text.size()) return;
    std::size_t h = hash(at);
    previous[at % lzss_window] = head[h];
    head[h] = static_cast<std::uint32_t>(at);
  }
  // The longest match for the text at `at` within the window: {length, distance}.
  std::pair<std::size_t, std::size_t> longest(std::size_t at) const {
    std::size_t best = 0, best_distance = 0;
    if (at + lzss_min_match > text.size()) return {0, 0};
    std::size_t most = std::min(lzss_max_match, text.size() - at);
    std::uint32_t candidate = head[hash(at)];
    for (std::size_t steps = 0; candidate != none && steps < max_chain; ++steps) {
      if (candidate >= at || at - candidate > lzss_window) break;
      std::size_t length = 0;
      while (length < most && text[candidate + length] == text[at + length]) ++length;
      if (length > best) best = length, best_distance = at - candidate;
      if (best == most) break;
      std::uint32_t next = previous[candidate % lzss_window];
      if (next >= candidate) break;  // the slot was reused by a newer position
      candidate = next;
    }
    return {best, best_distance};
  }
};

}  // namespace

std::vector<std::uint8_t> lzss_encode(Bytes input) {
  Matcher matcher;
  matcher.text.assign(lzss_window, 0);
  matcher.text.insert(matcher.text.end(), input.begin(), input.end());
  for (std::size_t at = 0; at < lzss_window; ++at) matcher.insert(at);

  std::vector<std::uint8_t> coded;
  std::size_t flag_at = 0, tokens = tokens_per_flag;
  for (std::size_t at = lzss_window; at < matcher.text.size();) {
    if (tokens == tokens_per_flag) {
      flag_at = coded.size();
      coded.push_back(0);
      tokens = 0;
    }
    auto [length, distance] = matcher.longest(at);
    if (length >= lzss_min_match) {
      std::size_t slot = reference_slot(at - lzss_window, distance);
      coded.push_back(static_cast<std::uint8_t>(slot));
      coded.push_back(static_cast<std::uint8_t>((slot >> slot_low_bits) << length_bits |
                                                (length - lzss_min_match)));
    } else {
      length = 1;
      coded[flag_at] |= static_cast<std::uint8_t>(1u << tokens);
      coded.push_back(matcher.text[at]);
    }
    for (std::size_t k = 0; k < length; ++k) matcher.insert(at + k);
    at += length;
    ++tokens;
  }
  return coded;
}

}  // namespace kelp
