// The disc reader of a build without libiso9660 (the Windows build, until the library is built
// for it from Debian's source package): every image is refused, saying so.
#include "disc/disc.h"
#include "disc/udf.h"

namespace kelp {

Result<Disc> open_disc(const std::string&, std::uint64_t) {
  return Refusal{"cannot be read: this build of kelp reads no disc images yet"};
}

bool has_udf_bridge(const Disc&) {
  return false;
}

std::vector<std::uint64_t> size_fields_of(const Disc&, const DiscFile&) {
  return {};
}

Result<WholeFile> read_disc_file(const Disc&, const DiscFile&) {
  return Refusal{"cannot be read: this build of kelp reads no disc images yet"};
}

Result<std::vector<UdfFile>> udf_files(const Disc&, const std::string&) {
  return Refusal{"cannot be read: this build of kelp reads no disc images yet"};
}

Result<std::vector<std::uint8_t>> resized_udf_entry(const Disc&, const UdfFile&, std::uint64_t) {
  return Refusal{"cannot be read: this build of kelp reads no disc images yet"};
}

}  // namespace kelp
