#include "platform/code_page.h"

#include <algorithm>
#include <array>
#include <string>

namespace kelp {

// Lead-byte ranges (constants at namespace scope are the file's own).
constexpr unsigned char sjis_first_lead = 0x81, sjis_last_low_lead = 0x9F;
constexpr unsigned char sjis_first_high_lead = 0xE0, sjis_last_lead = 0xFC;
constexpr unsigned char dbcs_first_lead = 0x81, dbcs_last_lead = 0xFE;

std::string ascii_lower(std::string_view text) {
  std::string lowered{text};
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered;
}

bool is_lead_byte(unsigned char c, CodePage code_page) {
  switch (code_page) {
    case CodePage::shift_jis:
      return (c >= sjis_first_lead && c <= sjis_last_low_lead) ||
             (c >= sjis_first_high_lead && c <= sjis_last_lead);
    case CodePage::double_byte:
      return c >= dbcs_first_lead && c <= dbcs_last_lead;
    case CodePage::single_byte:
      break;
  }
  return false;
}

CodePage code_page_of(std::string_view charset) {
  std::string name = ascii_lower(charset);
  std::erase_if(name, [](char c) { return c == '-' || c == '_'; });
  constexpr std::array shift_jis{"shiftjis", "sjis", "cp932", "windows31j", "mskanji"};
  constexpr std::array double_byte{"gbk",       "gb18030", "cp936", "big5",
                                   "big5hkscs", "cp950",   "cp949", "uhc"};
  if (std::find(shift_jis.begin(), shift_jis.end(), name) != shift_jis.end()) {
    return CodePage::shift_jis;
  }
  if (std::find(double_byte.begin(), double_byte.end(), name) != double_byte.end()) {
    return CodePage::double_byte;
  }
  return CodePage::single_byte;
}

}  // namespace kelp
