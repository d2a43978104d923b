// Re-import into a disc image: a copy of the image in which each container file that the edit
// folder changes is rebuilt as --import rebuilds it alone and written back at its own first
// sector. No file moves: outside the changed files' sectors and their records' size fields,
// every byte stays as it was. A folder of the disc's files is imported the same way, its rebuilt
// files written into the output folder.
#pragma once

#include <cstdint>
#include <string>

#include "import/import.h"
#include "platform/code_page.h"

namespace kelp {

// `request.images` is the edit folder, laid out as the unpack made it; `request.output_folder`
// receives the copy, named as the image. The exit code, as for a single file's import.
int import_disc(const ImportRequest& request, const std::string& path, std::uint64_t size,
                CodePage code_page);

// The same for a folder of the disc's files: each rebuilt file is written into its folder below
// `request.output_folder`, and only the files that change.
int import_folder(const ImportRequest& request, const std::string& path, CodePage code_page);

}  // namespace kelp
