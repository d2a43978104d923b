// The unpack job: the container tree listed, or every texture (and with --raw every other
// entry) written as a file.
#pragma once

#include <string>

#include "common/bytes.h"
#include "containers/walk.h"
#include "gallery/page.h"
#include "unpack/list.h"

namespace kelp {

struct UnpackRequest {
  std::string folder;    // where files go; empty: the current folder
  bool list = false;     // print the tree instead of writing files
  bool json = false;     // the listing as JSON Lines
  bool raw = false;      // also MOT records and unrecognised entries, as .bin files
  bool png = false;      // textures as indexed PNGs instead of bitmaps
  unsigned jobs = 1;     // workers that write the files
  bool gallery = false;  // also a page that shows the textures (with png)
  std::string title;     // the source's file name, the page's title
};

// One listing and one gallery page for several sources: the files of a disc or folder.
struct Together {
  Listing listing;
  Gallery gallery;
  std::string folder;  // the current file's folder as seen from the page: "DATA/"
};

// Lists or unpacks the container `name`; the exit code. The gallery page is "<name>.html", or,
// with `together`, the caller's, as is the listing's last line.
int unpack_source(const UnpackRequest& request, ContainerKind kind, const std::string& name,
                  Bytes source, Together* together = nullptr);

}  // namespace kelp
