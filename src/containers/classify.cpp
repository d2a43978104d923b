#include "containers/classify.h"

#include <cstdio>

namespace kelp {

bool package_signature(std::uint16_t h0, std::uint16_t h1, std::uint16_t h2) {
  return h0 != 0 && std::uint32_t{h0} + h1 == h2;
}

bool archive_signature(std::uint32_t w0, std::uint32_t w1) {
  return static_cast<std::uint32_t>(w0 * 4u + 8u) == w1;
}

EntryKind classify_entry(Bytes head, ArchiveRule rule) {
  std::uint32_t w0 = read_le<std::uint32_t>(head, classification_w0_field).value_or(0);
  std::uint32_t w1 = read_le<std::uint32_t>(head, classification_w1_field).value_or(0);
  switch (w0 & tag_mask) {
    case tag_tx4:
      return EntryKind::tx4;
    case tag_tx8:
      return EntryKind::tx8;
    case tag_mot:
      return EntryKind::mot;
  }
  auto h0 = static_cast<std::uint16_t>(w0);
  auto h1 = static_cast<std::uint16_t>(w0 >> 16);
  auto h2 = static_cast<std::uint16_t>(w1);
  if (package_signature(h0, h1, h2)) return EntryKind::package;
  if (rule == ArchiveRule::applies && archive_signature(w0, w1)) return EntryKind::archive;
  return EntryKind::other;
}

std::string entry_name(std::string_view container, std::uint32_t index) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "_%04X", static_cast<unsigned>(index));
  std::string name{container};
  name += digits;
  return name;
}

std::string_view kind_name(EntryKind kind) {
  constexpr std::string_view names[] = {"TX4",     "TX8",   "MOT",    "package",  // as EntryKind
                                        "archive", "other", "damaged"};
  return names[static_cast<std::size_t>(kind)];
}

}  // namespace kelp
