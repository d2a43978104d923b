#include "platform/windows_rules.h"

#include <array>

namespace kelp::platform {

namespace {

constexpr std::string_view forbidden_characters = "<>:\"|?*";
constexpr unsigned char first_printable = 0x20;

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

bool is_device_name(std::string_view stem) {
  constexpr std::array plain{"con", "prn", "aux", "nul", "conin$", "conout$"};
  std::string lowered = ascii_lower(stem);
  for (std::string_view device : plain) {
    if (lowered == device) return true;
  }
  bool numbered_port =
      lowered.size() == 4 && (lowered.starts_with("com") || lowered.starts_with("lpt"));
  return numbered_port && lowered[3] >= '1' && lowered[3] <= '9';
}

// The end of the argument that starts at `at` (not a blank), past any quoted blanks.
std::size_t argument_end(std::string_view raw, std::size_t at) {
  bool quoted = false;
  while (at < raw.size() && (quoted || !is_blank(raw[at]))) {
    std::size_t backslashes = 0;
    while (at < raw.size() && raw[at] == '\\') {
      ++backslashes;
      ++at;
    }
    if (at == raw.size()) break;
    if (raw[at] == '"' && backslashes % 2 == 0) {
      bool doubled = quoted && at + 1 < raw.size() && raw[at + 1] == '"';
      at += doubled ? 2 : 1;  // "" inside quotes is one literal quote
      if (!doubled) quoted = !quoted;
    } else if (backslashes == 0 || raw[at] == '"') {
      ++at;
    }
  }
  return at;
}

}  // namespace

bool windows_creates_name_as_given(std::string_view path, CodePage code_page) {
  std::size_t name_start = 0;
  bool forbidden = false;
  for (std::size_t at = 0; at < path.size(); ++at) {
    unsigned char c = static_cast<unsigned char>(path[at]);
    if (is_lead_byte(c, code_page)) {
      ++at;
    } else if (c == '/' || c == '\\') {
      name_start = at + 1;
      forbidden = false;
    } else if (c < first_printable ||
               forbidden_characters.find(static_cast<char>(c)) != std::string_view::npos) {
      forbidden = true;
    }
  }
  std::string_view name = path.substr(name_start);
  if (forbidden || name.empty() || name.back() == '.' || name.back() == ' ') return false;
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  return !is_device_name(stem);
}

std::vector<ArgumentSpan> command_line_arguments(std::string_view raw) {
  std::vector<ArgumentSpan> spans;
  std::size_t at = 0;
  if (!raw.empty() && raw[0] == '"') {
    std::size_t close = raw.find('"', 1);
    at = close == std::string_view::npos ? raw.size() : close + 1;
  }
  while (at < raw.size() && !is_blank(raw[at])) ++at;
  spans.push_back({0, at});
  while (true) {
    while (at < raw.size() && is_blank(raw[at])) ++at;
    if (at == raw.size()) break;
    std::size_t end = argument_end(raw, at);
    spans.push_back({at, end});
    at = end;
  }
  return spans;
}

std::string raw_search_text(std::string_view raw, std::span<const ArgumentRole> roles) {
  std::vector<ArgumentSpan> spans = command_line_arguments(raw);
  if (spans.size() != roles.size()) return std::string(raw);
  std::string text(raw.substr(0, spans[0].end));
  for (std::size_t index = 1; index < spans.size(); ++index) {
    if (roles[index] == ArgumentRole::kelp_option) continue;
    std::size_t from = spans[index - 1].end;
    text += raw.substr(from, spans[index].end - from);
  }
  text += raw.substr(spans.back().end);
  return text;
}

}  // namespace kelp::platform
