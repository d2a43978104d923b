// How the user's character set pairs bytes: in Shift-JIS (0x81-0x9F, 0xE0-0xFC) and in the
// Chinese and Korean sets (0x81-0xFE) a lead byte takes the next byte with it, which may equal
// "\", "/" or ".". UTF-8 and single-byte sets never do.
#pragma once

#include <string>
#include <string_view>

namespace kelp {

enum class CodePage { single_byte, shift_jis, double_byte };

CodePage code_page_of(std::string_view charset);

// ASCII "A" to "Z" lowered; other bytes kept.
std::string ascii_lower(std::string_view text);

// Whether `c` starts a double-byte character, taking the next byte with it.
bool is_lead_byte(unsigned char c, CodePage code_page);

}  // namespace kelp
