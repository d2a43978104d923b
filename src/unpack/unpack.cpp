#include "unpack/unpack.h"

#include "common/diagnostics.h"
#include "common/exit_codes.h"
#include "unpack/export.h"
#include "unpack/list.h"

namespace kelp {

int unpack_source(const UnpackRequest& request, ContainerKind kind, const std::string& name,
                  Bytes source, Together* together) {
  WalkLimits limits = limits_for(source.size());
  limits.charge_raw = request.raw;
  if (request.list) {
    Listing alone{request.json};
    Listing& listing = together != nullptr ? together->listing : alone;
    bool whole =
        walk_source(kind, name, source, {[&](const Entry& e) { list_entry(listing, e); }}, limits);
    if (together == nullptr) finish_listing(listing);
    return whole ? exit_success : exit_incomplete;
  }
  Gallery alone{request.title, {}, {}};
  Gallery& gallery = together != nullptr ? together->gallery : alone;
  Export job{.folder = request.folder,
             .raw = request.raw,
             .png = request.png,
             .gallery = request.gallery ? &gallery : nullptr,
             .gallery_folder = together != nullptr ? together->folder : "",
             .pool = WorkerPool(request.jobs)};
  bool whole = walk_source(kind, name, source, export_handler(job), limits);
  bool alone_page = request.gallery && together == nullptr;
  std::string page_data = alone_page ? gallery_data(gallery) : "";  // as the last files go
  bool written = finish_export(job);
  if (alone_page) {
    std::optional<std::string> page = write_page(page_data, name + ".html", request.folder);
    if (page) note("wrote the gallery " + *page);
    written = written && page;
  }
  return written && whole ? exit_success : exit_incomplete;
}

}  // namespace kelp
