// Splitting a path into drive, directory, file name and extension by the Windows rules: "\" and
// "/" both separate, a drive is "X:", and the two bytes of a double-byte character are one unit.
#pragma once

#include <string>
#include <string_view>

namespace kelp {

// How the user's character set pairs bytes: in Shift-JIS (0x81-0x9F, 0xE0-0xFC) and in the
// Chinese and Korean sets (0x81-0xFE) a lead byte takes the next byte with it, which may equal
// "\", "/" or ".". UTF-8 and single-byte sets never do.
enum class CodePage { single_byte, shift_jis, double_byte };

CodePage code_page_of(std::string_view charset);

// Whether `c` starts a double-byte character, taking the next byte with it.
bool is_lead_byte(unsigned char c, CodePage code_page);

// Each part holds at most 255 bytes (a drive 2); a longer part leaves every part empty.
constexpr std::size_t max_drive_part = 2;
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

// ASCII "A" to "Z" lowered; other bytes kept.
std::string ascii_lower(std::string_view text);

}  // namespace kelp
