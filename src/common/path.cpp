#include "common/path.h"

#include <algorithm>

namespace kelp {

namespace {

// "X:" at the start is a drive.
std::size_t drive_length(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

bool is_separator(char c) {
  return c == '\\' || c == '/';
}

}  // namespace

PathParts split_path(std::string_view path, CodePage code_page) {
  std::size_t rest = drive_length(path);
  std::size_t name_start = rest;
  std::size_t last_dot = std::string_view::npos;
  for (std::size_t at = rest; at < path.size(); ++at) {
    char c = path[at];
    if (is_lead_byte(static_cast<unsigned char>(c), code_page)) {
      ++at;  // the trail byte is part of this character
    } else if (is_separator(c)) {
      name_start = at + 1;
    } else if (c == '.') {
      last_dot = at;
    }
  }
  std::size_t name_end =
      last_dot != std::string_view::npos && last_dot >= name_start ? last_dot : path.size();
  PathParts parts{std::string(path.substr(0, rest)),
                  std::string(path.substr(rest, name_start - rest)),
                  std::string(path.substr(name_start, name_end - name_start)),
                  std::string(path.substr(name_end))};
  if (parts.directory.size() > max_path_part || parts.name.size() > max_path_part ||
      parts.extension.size() > max_path_part) {
    return {};
  }
  return parts;
}

std::string parent_folder(std::string_view path, CodePage code_page) {
  std::size_t root = drive_length(path);
  constexpr std::size_t none = std::string_view::npos;
  std::size_t run = none;                   // where the current run of separators starts
  std::size_t before = none, after = none;  // the run before the last part
  for (std::size_t at = root; at < path.size(); ++at) {
    bool lead = is_lead_byte(static_cast<unsigned char>(path[at]), code_page);
    if (!lead && is_separator(path[at])) {
      if (run == none) run = at;
      continue;
    }
    if (run != none) before = run, after = at, run = none;
    if (lead) ++at;  // the trail byte is part of this character
  }
  if (before == none) return std::string(path.substr(0, root));
  return std::string(path.substr(0, before == root ? after : before));
}

}  // namespace kelp
