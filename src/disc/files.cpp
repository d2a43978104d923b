#include "disc/files.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

#include "common/diagnostics.h"
#include "common/exit_codes.h"
#include "common/output.h"
#include "common/path.h"
#include "disc/disc.h"
#include "platform/windows_rules.h"

namespace kelp {

namespace {

constexpr std::size_t max_folder_depth = 64;

int convert_file(const UnpackRequest& request, const SourceFile& file, Together& together,
                 CodePage code_page) {
  std::optional<ContainerKind> kind = container_kind(file.path, code_page);
  if (request.list) list_file(together.listing, file.path, file.sector, file.size);
  if (!kind) return exit_success;
  std::string folder = folder_of(file.path);
  if (!safe_disc_folder(folder, code_page)) {
    warn(file.path, "has a folder name that cannot be written safely; skipped");
    return exit_incomplete;
  }
  Result<WholeFile> bytes = file.read();
  if (!bytes) {
    warn(file.path, bytes.refusal);
    return exit_incomplete;
  }
  UnpackRequest one = request;
  if (!request.list) {
    one.folder = in_disc_folder(request.folder, folder);
    if (!make_folders(request.folder, folder)) return exit_incomplete;
    if (request.gallery) add_file_to_gallery(together.gallery, file.path);
  }
  together.folder = folder;
  std::string name = split_path(file.path, code_page).name;
  return unpack_source(one, *kind, name, bytes->bytes, &together);
}

int convert_files(const UnpackRequest& request, const std::vector<SourceFile>& files,
                  const std::string& page_name, CodePage code_page) {
  Together together{{request.json}, {request.title}, {}};
  together.listing.depth = 1;
  together.gallery.depth = 1;
  int exit_code = exit_success;
  for (const SourceFile& file : files) {
    exit_code = std::max(exit_code, convert_file(request, file, together, code_page));
  }
  if (request.list) finish_listing(together.listing);
  if (request.gallery && !request.list) {
    std::optional<std::string> page =
        write_page(gallery_data(together.gallery), page_name, request.folder);
    if (page) note("wrote the gallery " + *page);
    if (!page) exit_code = std::max(exit_code, exit_incomplete);
  }
  return exit_code;
}

}  // namespace

bool make_folders(const std::string& root, const std::string& folder) {
  if (!make_output_folder(root)) return false;
  std::string made = root;
  for (std::size_t start = 0, slash; (slash = folder.find('/', start)) != std::string::npos;
       start = slash + 1) {
    made = in_folder(made, folder.substr(start, slash - start));
    if (!make_output_folder(made)) return false;
  }
  return true;
}

// The files below `root`, folders first found, each folder's names sorted; links to folders are
// not followed, so that a folder that holds itself is read once.
void find_files(const std::string& root, const std::string& relative, std::size_t depth,
                std::vector<SourceFile>& files) {
  std::vector<std::string> names = platform::list_directory(in_folder(root, relative));
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = relative + name;
    std::string full = in_folder(root, path);
    if (platform::is_directory(full)) {
      if (platform::is_link(full)) {
        warn(full, "is a link to a folder; not followed");
      } else if (depth + 1 >= max_folder_depth) {
        warn(full, "is nested too deep; skipped");
      } else {
        find_files(root, path + "/", depth + 1, files);
      }
      continue;
    }
    files.push_back(
        {path, std::nullopt, platform::size_of(full).value_or(0), [full]() -> Result<WholeFile> {
           std::optional<platform::File> file = platform::open_unshared(full);
           if (!file) return Refusal{"cannot be opened"};
           WholeFile whole = read_whole_file(*file);
           platform::close_file(*file);
           if (whole.bytes.size() < whole.size) return Refusal{"cannot be read whole"};
           return whole;
         }});
  }
}

std::vector<SourceFile> files_of_disc(const Disc& disc) {
  std::vector<SourceFile> files;
  for (const DiscFile& file : disc.files) {
    files.push_back(
        {file.path, file.sector, file.size, [&disc, file] { return read_disc_file(disc, file); }});
  }
  return files;
}

std::vector<SourceFile> files_of_folder(const std::string& root) {
  std::vector<SourceFile> files;
  find_files(root, "", 0, files);
  return files;
}

std::string trimmed_folder(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path;
}

std::string folder_of(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string in_disc_folder(const std::string& root, const std::string& folder) {
  return folder.empty() ? root : in_folder(root, folder.substr(0, folder.size() - 1));
}

std::optional<ContainerKind> container_kind(const std::string& path, CodePage code_page) {
  std::string extension = ascii_lower(split_path(path, code_page).extension);
  if (extension == ".img") return ContainerKind::package;
  if (extension == ".dat") return ContainerKind::archive;
  return std::nullopt;
}

bool safe_disc_folder(const std::string& folder, CodePage code_page) {
  for (std::size_t start = 0, slash; (slash = folder.find('/', start)) != std::string::npos;
       start = slash + 1) {
    std::string part = folder.substr(start, slash - start);
    bool bad = part.empty() || part == "." || part == ".." ||
               part.find_first_of("\\:") != std::string::npos ||
               !platform::windows_creates_name_as_given(part, code_page);
    if (bad) return false;
  }
  return true;
}

int unpack_disc(const UnpackRequest& request, const std::string& path, std::uint64_t size,
                CodePage code_page) {
  Result<Disc> disc = open_disc(path, size);
  if (!disc) {
    warn(path, disc.refusal);
    return exit_incomplete;
  }
  std::vector<SourceFile> files = files_of_disc(*disc);
  std::string base = split_path(path, code_page).name;
  int exit_code = convert_files(request, files, base + ".html", code_page);
  return disc->skipped > 0 ? std::max(exit_code, exit_incomplete) : exit_code;
}

int unpack_folder(const UnpackRequest& request, const std::string& path, CodePage code_page) {
  std::vector<SourceFile> files = files_of_folder(path);
  return convert_files(request, files, split_path(trimmed_folder(path), code_page).name + ".html",
                       code_page);
}

}  // namespace kelp
