#include "common/output.h"

#include <new>
#include <thread>

#include <cstdio>

#include "common/diagnostics.h"

namespace kelp {

namespace {

std::string clash_candidate(const std::string& name, std::uint32_t number) {
  std::size_t dot = name.rfind('.');
  std::size_t insert_at = dot == std::string::npos ? name.size() : dot;
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, "_%04X", static_cast<unsigned>(number));
  return name.substr(0, insert_at) + suffix + name.substr(insert_at);
}

OutputFile try_create(const std::string& path, platform::CreateStatus& status) {
  platform::Creation made = platform::create_new_file(path);
  status = made.status;
  return {made.file, path, made.error, made.status == platform::CreateStatus::created};
}

}  // namespace

std::string in_folder(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

std::string free_output_name(const std::string& name, const std::string& folder) {
  std::string path = in_folder(folder, name);
  for (std::uint32_t number = 1; platform::path_exists(path) && number <= last_clash_number;
       ++number) {
    path = in_folder(folder, clash_candidate(name, number));
  }
  return path;
}

bool make_output_folder(const std::string& folder) {
  if (folder.empty() || platform::is_directory(folder)) return true;
  int error = platform::make_directory(folder);
  if (error == 0) return true;
  warn(folder, "cannot create the folder: " + platform::describe_error(error));
  return false;
}

void print_line(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

OutputFile create_output_file(const std::string& name, const std::string& folder) {
  if (name.size() > max_output_name)
    return {{}, in_folder(folder, name), platform::error_name_too_long, false};
  platform::CreateStatus status;
  OutputFile out = try_create(in_folder(folder, name), status);
  for (std::uint32_t number = 1; status == platform::CreateStatus::exists; ++number) {
    if (number > last_clash_number)
      return {{}, in_folder(folder, name), platform::error_exists, false};
    out = try_create(in_folder(folder, clash_candidate(name, number)), status);
  }
  return out;
}

void write_output(OutputFile& out, Bytes bytes) {
  if (out.error == 0) out.error = platform::write_all(out.file, bytes);
}

bool finish_output(OutputFile& out) {
  int closed = platform::close_file(out.file);
  if (out.error == 0) out.error = closed;
  if (out.error == 0) return true;
  platform::remove_file(out.name);
  warn(out.name, "cannot write: " + platform::describe_error(out.error) +
                     "; the incomplete file was removed");
  return false;
}

void warn_not_created(const OutputFile& out) {
  warn(out.name, "cannot create: " + platform::describe_error(out.error));
}

OutputFile create_output_or_warn(const std::string& name, const std::string& folder) {
  OutputFile out = create_output_file(name, folder);
  if (!out.created) warn_not_created(out);
  return out;
}

WholeFile read_whole_file(platform::File file, bool both_halves) {
  constexpr std::uint64_t split_read_size = std::uint64_t{64} << 20;
  WholeFile whole{{}, {}, platform::file_size(file), 0};
  whole.buffer = platform::allocate_pages(whole.size);
  if (!whole.buffer) throw std::bad_alloc();
  std::span<std::uint8_t> into(whole.buffer.get(), whole.size);
  std::size_t half = both_halves && whole.size >= split_read_size ? whole.size / 2 : whole.size;
  std::size_t second_got = 0;
  int second_error = 0;
  std::thread second;
  if (half < whole.size) {
    second = std::thread(
        [&] { second_got = platform::read_whole(file, into.subspan(half), second_error, half); });
  }
  std::size_t got = platform::read_whole(file, into.first(half), whole.error);
  if (second.joinable()) second.join();
  if (got == half && half < whole.size) {
    got += second_got;
    whole.error = second_error;
  }
  whole.bytes = Bytes(whole.buffer.get(), got);
  return whole;
}

}  // namespace kelp
