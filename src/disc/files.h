// A disc image or a folder (a disc's files already extracted) as the source: every file whose
// extension is .img or .dat, in any case, is listed or unpacked as if it were the source, into
// the output folder's folder of the same path. Other files are listed and passed over.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/output.h"
#include "common/result.h"
#include "disc/disc.h"

#include "platform/code_page.h"
#include "unpack/unpack.h"

namespace kelp {

// A file of the disc or folder: its path there, and how its bytes are had.
struct SourceFile {
  std::string path;  // "DATA/MAP.IMG"
  std::optional<std::uint32_t> sector;
  std::uint64_t size = 0;
  std::function<Result<WholeFile>()> read;
};

// The files of the disc, in its order; the files below a folder, each folder's names sorted and
// links to folders not followed (warned), so that a folder that holds itself is read once.
std::vector<SourceFile> files_of_disc(const Disc& disc);
std::vector<SourceFile> files_of_folder(const std::string& root);

// Makes the output folder and each level of `folder` ("DATA/SUB/") below it.
bool make_folders(const std::string& root, const std::string& folder);

// `request.folder` is the output folder; `request.title` names the gallery page. The exit code
// is the worst of the files'.
int unpack_disc(const UnpackRequest& request, const std::string& path, std::uint64_t size,
                CodePage code_page);
int unpack_folder(const UnpackRequest& request, const std::string& path, CodePage code_page);

// A disc's folder path ("DATA/SUB/") is safe as an output folder: no component is empty, "." or
// "..", holds a "\" or ":", or is a name Windows would not create as given (CON, a trailing dot).
bool safe_disc_folder(const std::string& folder, CodePage code_page);

// The folder's path without the "/" or "\\" at its end, as its name is taken from it.
std::string trimmed_folder(std::string path);

// The folder part of a disc path, "DATA/SUB/" of "DATA/SUB/MAP.IMG" ("" at the root), and that
// folder below `root`.
std::string folder_of(const std::string& path);
std::string in_disc_folder(const std::string& root, const std::string& folder);

// What a file is by its extension, in any case: a package (.img), an archive (.dat), or neither.
std::optional<ContainerKind> container_kind(const std::string& path, CodePage code_page);

}  // namespace kelp
