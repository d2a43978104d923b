// Splitting a path into drive, directory, file name and extension by the Windows rules: "\" and
// "/" both separate, a drive is "X:", and the two bytes of a double-byte character are one unit.
#pragma once

#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace kelp {

// Each part holds at most 255 bytes; a longer part leaves every part empty.
constexpr std::size_t max_path_part = 255;

struct PathParts {
  std::string drive;
  std::string directory;  // up to and including the last separator
  std::string name;       // the file name without its extension
  std::string extension;  // from the last "." after the directory, dot included
};

PathParts split_path(std::string_view path, CodePage code_page);

// The folder that holds the path's last part, by the same rules: "a" for "a/b" and "a/b/", the
// root for "/b", the drive for "C:b", and empty (the current folder) for "b" and "b/".
std::string parent_folder(std::string_view path, CodePage code_page);

}  // namespace kelp
