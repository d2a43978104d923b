#include "platform/windows_rules.h"

#include <gtest/gtest.h>

namespace kelp::platform {
namespace {

TEST(WindowsNames, DeviceNamesForbiddenCharactersAndTrailingDotsOrSpacesAreRefused) {
  const std::vector<std::pair<std::string, bool>> cases{
      {"scene_0000.bmp", true}, {"out/CON.bmp", false},  {"nul", false},
      {"Aux.tar.gz", false},    {"prn .bmp", false},     {"COM1.png", false},
      {"lpt9", false},          {"CONOUT$", false},      {"com0.bmp", true},
      {"lpt10.bmp", true},      {"console.bmp", true},   {"con_0000.bmp", true},
      {"a<b.bmp", false},       {"a>b", false},          {"C:x.bmp", false},
      {"dir\\a\"b", false},     {"a|b", false},          {"a?b", false},
      {"a*b", false},           {"a\tb", false},         {"name.", false},
      {"name ", false},         {"dir./name.bmp", true}, {"out/", false},
  };
  for (const auto& [name, allowed] : cases) {
    EXPECT_EQ(windows_creates_name_as_given(name, CodePage::single_byte), allowed) << name;
  }
  // Shift-JIS trail bytes that equal "|" or "\\" belong to their character.
  EXPECT_TRUE(windows_creates_name_as_given("\x83\x7C_0000.bmp", CodePage::shift_jis));
  EXPECT_FALSE(windows_creates_name_as_given("\x83\x7C_0000.bmp", CodePage::single_byte));
  EXPECT_TRUE(windows_creates_name_as_given("\x95\x5C", CodePage::shift_jis));
  EXPECT_FALSE(windows_creates_name_as_given("\x95\x5C", CodePage::single_byte));
  EXPECT_TRUE(windows_creates_name_as_given("\x95\x5Cnul", CodePage::shift_jis));
}

TEST(WindowsCommandLine, KelpOptionsAreTakenOutOfTheRawText) {
  using enum ArgumentRole;
  struct Case {
    std::string raw;
    std::vector<ArgumentRole> roles;
    std::string search;
  };
  const std::vector<Case> cases{
      {"kelp base.bmp /bover.bmp", {invocation, source, slash_option}, "kelp base.bmp /bover.bmp"},
      {"kelp -o out base.bmp /bmy over.bmp /y0",
       {invocation, kelp_option, kelp_option, source, slash_option, file, slash_option},
       "kelp base.bmp /bmy over.bmp /y0"},
      {"kelp base.bmp /bover.bmp --output=out ",
       {invocation, source, slash_option, kelp_option},
       "kelp base.bmp /bover.bmp "},
      {"\"C:\\my tools\\kelp\"  \"a b.bmp\"\t-o \"o \\\" x\" /x1",
       {invocation, source, kelp_option, kelp_option, slash_option},
       "\"C:\\my tools\\kelp\"  \"a b.bmp\" /x1"},
      {"kelp a\\\\\" -o\" b", {invocation, source, file}, "kelp a\\\\\" -o\" b"},
      {"kelp \"say \"\" -o\" b", {invocation, source, file}, "kelp \"say \"\" -o\" b"},
      {"kelp -o x", {invocation, kelp_option}, "kelp -o x"},  // split differs: kept whole
  };
  for (const Case& c : cases) {
    EXPECT_EQ(raw_search_text(c.raw, c.roles), c.search) << c.raw;
  }
}

}  // namespace
}  // namespace kelp::platform
