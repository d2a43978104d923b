// The Windows rules that need no Windows function, kept portable so that they are tested on
// every build: which file names Windows creates as given, and the raw command line's arguments.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/code_page.h"
#include "platform/platform.h"

namespace kelp::platform {

// False for a last path component that Windows would change or send to a device: a device name
// (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$, CONOUT$) with any extension, a
// character from <>:"|?* or a control character, a trailing dot or space, or nothing at all.
// The trail byte of a double-byte character is part of it, never a separator or such a character.
bool windows_creates_name_as_given(std::string_view path, CodePage code_page);

// Where each argument lies in a raw command line, split as the C runtime splits it: blanks
// separate arguments outside double quotes; backslashes escape a quote only when they stand
// before one; the invocation ends at its closing quote or first blank.
struct ArgumentSpan {
  std::size_t begin = 0, end = 0;
};
std::vector<ArgumentSpan> command_line_arguments(std::string_view raw);

// The raw command line with every kelp option and its value taken out, each with the blanks
// before it; everything else, the invocation included, stays as typed. When the raw line does
// not split into one argument per role, it is returned whole.
std::string raw_search_text(std::string_view raw, std::span<const ArgumentRole> roles);

}  // namespace kelp::platform
