#include "unpack/unpack.h"

#include "common/exit_codes.h"
#include "unpack/export.h"
#include "unpack/list.h"

namespace kelp {

int unpack_source(const UnpackRequest& request, ContainerKind kind, const std::string& name,
                  Bytes source) {
  WalkLimits limits = limits_for(source.size());
  limits.charge_raw = request.raw;
  if (request.list) {
    Listing listing{request.json};
    bool whole =
        walk_source(kind, name, source, {[&](const Entry& e) { list_entry(listing, e); }}, limits);
    finish_listing(listing);
    return whole ? exit_success : exit_incomplete;
  }
  Export job{request.folder, request.raw, request.png, {}, {}, false, WorkerPool(request.jobs)};
  bool whole = walk_source(kind, name, source, export_handler(job), limits);
  return finish_export(job) && whole ? exit_success : exit_incomplete;
}

}  // namespace kelp
