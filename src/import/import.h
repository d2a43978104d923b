// Re-import: the source rebuilt with the edited images of a folder, named as kelp names its
// outputs, and written as a new file. Everything is read and checked before anything is
// written.
#pragma once

#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/output.h"
#include "containers/walk.h"
#include "gallery/page.h"
#include "import/rebuild.h"

namespace kelp {

// One file's import among several: its source rebuilt (in place with no patches when nothing
// changed, or on a dry run) and, with `gallery`, its rows of the changes page.
struct ImportedPart {
  Rebuilt rebuilt{};
  std::vector<ChangeRow> rows{};
};

struct ImportRequest {
  std::string images;         // the folder of edited images and .bin files
  std::string source_name;    // the source's base name, which entry names begin with
  std::string output_name;    // the source's file name, given to the rebuilt file
  std::string output_folder;  // empty: the current folder
  ContainerKind kind = ContainerKind::package;
  bool dither = false;
  unsigned jobs = 1;     // workers that read the images
  bool dry_run = false;  // read and check everything, write nothing, print what would happen
  bool json = false;     // the dry run's lines as JSON Lines
  bool gallery = false;  // also "<source_name>-changes.html", a page of what changed
  // When set, the import is one file's of a disc or folder: what it makes goes here, and the
  // caller writes the files and the page of them all.
  ImportedPart* part = nullptr;
};

// Rebuilds `source` and writes it, creating the output folder only then; the exit code (0, or 1
// when something was refused, nothing being written then, or the file could not be written). A
// dry run prints one line per file of the folder that the import reads, in walk order; with
// `gallery` the changes page is written too, and is a dry run's only file.
int import_source(const ImportRequest& request, Bytes source);

// Writes the rebuilt source: its new bytes, or the source with the patches over it.
void write_rebuilt(OutputFile& out, Bytes source, const Rebuilt& rebuilt);

}  // namespace kelp
