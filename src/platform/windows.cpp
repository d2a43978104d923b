#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/windows_rules.h"

namespace kelp::platform {

const int error_name_too_long = ERROR_FILENAME_EXCED_RANGE;
const int error_exists = ERROR_FILE_EXISTS;
const int error_no_memory = ERROR_NOT_ENOUGH_MEMORY;
const int error_too_many_files = ERROR_TOO_MANY_OPEN_FILES;

namespace {

// Reads and writes go in pieces that a DWORD count holds.
constexpr std::size_t largest_piece = std::size_t{1} << 30;

HANDLE handle_of(File file) {
  return reinterpret_cast<HANDLE>(file.descriptor);
}

File file_of(HANDLE handle) {
  return File{reinterpret_cast<std::intptr_t>(handle)};
}

int last_error() {
  return static_cast<int>(::GetLastError());
}

bool creates_as_given(const std::string& name) {
  return windows_creates_name_as_given(name, code_page_of(locale_charset()));
}

DWORD attributes_of(const std::string& path) {
  return ::GetFileAttributesA(path.c_str());
}

}  // namespace

void prepare_process() {
  // No dialog box for a missing drive or a crash: the error is reported, or ends the process.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // Text mode: every line feed printed reaches the console as CR LF.
  _setmode(_fileno(stdout), _O_TEXT);
  _setmode(_fileno(stderr), _O_TEXT);
}

std::optional<File> open_unshared(const std::string& path, bool other_readers) {
  DWORD sharing = other_readers ? FILE_SHARE_READ : 0;
  HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  if (::GetFileType(handle) != FILE_TYPE_DISK) {  // a device such as CON, or a pipe
    ::CloseHandle(handle);
    return std::nullopt;
  }
  return file_of(handle);
}

std::uint64_t file_size(File file) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(handle_of(file), &size) || size.QuadPart < 0) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t read_whole(File file, std::span<std::uint8_t> into, int& error, std::uint64_t from) {
  std::size_t done = 0;
  error = 0;
  while (done < into.size()) {
    DWORD wanted = static_cast<DWORD>(std::min(into.size() - done, largest_piece));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(from + done);
    at.OffsetHigh = static_cast<DWORD>((from + done) >> 32);
    DWORD got = 0;
    if (!::ReadFile(handle_of(file), into.data() + done, wanted, &got, &at)) {
      if (::GetLastError() != ERROR_HANDLE_EOF) error = last_error();
      break;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

Creation create_new_file(const std::string& name) {
  if (!creates_as_given(name)) return {CreateStatus::failed, File{}, ERROR_INVALID_NAME};
  HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) return {CreateStatus::created, file_of(handle), 0};
  DWORD error = ::GetLastError();
  bool exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
  return {exists ? CreateStatus::exists : CreateStatus::failed, File{}, static_cast<int>(error)};
}

int write_all(File file, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD wanted = static_cast<DWORD>(std::min(bytes.size() - done, largest_piece));
    DWORD put = 0;
    if (!::WriteFile(handle_of(file), bytes.data() + done, wanted, &put, nullptr)) {
      return last_error();
    }
    if (put == 0) return ERROR_WRITE_FAULT;
    done += put;
  }
  return 0;
}

int write_at(File file, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(handle_of(file), at, nullptr, FILE_BEGIN)) return last_error();
  return write_all(file, bytes);
}

int copy_contents(File from, File to, std::uint64_t size) {
  std::vector<std::uint8_t> piece(std::min<std::uint64_t>(size, std::size_t{8} << 20));
  for (std::uint64_t done = 0; done < size;) {
    DWORD got = 0;
    DWORD wanted = static_cast<DWORD>(std::min<std::uint64_t>(size - done, piece.size()));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(done);
    at.OffsetHigh = static_cast<DWORD>(done >> 32);
    if (!::ReadFile(handle_of(from), piece.data(), wanted, &got, &at)) return last_error();
    if (got == 0) return ERROR_HANDLE_EOF;
    if (int error = write_all(to, std::span(piece.data(), got)); error != 0) return error;
    done += got;
  }
  return 0;
}

int close_file(File file) {
  return ::CloseHandle(handle_of(file)) ? 0 : last_error();
}

void remove_file(const std::string& name) {
  ::DeleteFileA(name.c_str());
}

bool path_exists(const std::string& path) {
  return attributes_of(path) != INVALID_FILE_ATTRIBUTES;
}

bool is_directory(const std::string& path) {
  DWORD attributes = attributes_of(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool is_link(const std::string& path) {
  DWORD attributes = attributes_of(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::optional<std::uint64_t> size_of(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

std::vector<std::string> list_directory(const std::string& path) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found{};
  HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
  return names;
}

int make_directory(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  if (!creates_as_given(folder)) return ERROR_INVALID_NAME;
  return ::CreateDirectoryA(folder.c_str(), nullptr) ? 0 : last_error();
}

bool slash_argument_is_path(const std::string&) {
  return false;
}

std::string overlay_search_text(int, const char* const*, std::span<const ArgumentRole> roles) {
  return raw_search_text(::GetCommandLineA(), roles);
}

PageBlock allocate_pages(std::size_t size) {
  std::size_t mapped = size == 0 ? 1 : size;
  void* block = ::VirtualAlloc(nullptr, mapped, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  return PageBlock(static_cast<std::uint8_t*>(block), PageRelease{mapped});
}

void PageRelease::operator()(std::uint8_t* block) const {
  ::VirtualFree(block, 0, MEM_RELEASE);
}

std::string locale_charset() {
  return "cp" + std::to_string(::GetACP());
}

std::string name_in_utf8(const std::string& name) {
  int size = static_cast<int>(name.size());
  int wide_size = ::MultiByteToWideChar(CP_ACP, 0, name.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, name.data(), size, wide.data(), wide_size);
  int utf8_size =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(utf8_size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, utf8.data(), utf8_size, nullptr,
                        nullptr);
  return utf8;
}

std::string describe_error(int error) {
  char* text = nullptr;
  DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string described = length > 0 ? std::string(text, length) : "";
  ::LocalFree(text);
  while (!described.empty() && (described.back() == '\n' || described.back() == '\r' ||
                                described.back() == ' ' || described.back() == '.')) {
    described.pop_back();
  }
  return described.empty() ? "system error " + std::to_string(error) : described;
}

void error_line(std::string_view line) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

}  // namespace kelp::platform
