#include "common/path.h"

#include <gtest/gtest.h>

#include <utility>

namespace kelp {
namespace {

void expect_parts(std::string_view path, const PathParts& want,
                  CodePage code_page = CodePage::single_byte) {
  PathParts got = split_path(path, code_page);
  EXPECT_EQ(got.drive, want.drive) << path;
  EXPECT_EQ(got.directory, want.directory) << path;
  EXPECT_EQ(got.name, want.name) << path;
  EXPECT_EQ(got.extension, want.extension) << path;
}

TEST(SplitPath, WindowsRules) {
  expect_parts("scene.img", {"", "", "scene", ".img"});
  expect_parts("A.IMG", {"", "", "A", ".IMG"});
  expect_parts("dir\\x.y.img", {"", "dir\\", "x.y", ".img"});
  expect_parts("/home/me/scene.img", {"", "/home/me/", "scene", ".img"});
  expect_parts("C:\\games\\scene.img", {"C:", "\\games\\", "scene", ".img"});
  expect_parts("C:scene", {"C:", "", "scene", ""});
  expect_parts(".img", {"", "", "", ".img"});
  expect_parts("old.set/out", {"", "old.set/", "out", ""});  // a dot in the directory only
  expect_parts("a/b\\c.", {"", "a/b\\", "c", "."});
  expect_parts("", {"", "", "", ""});
}

TEST(SplitPath, PartsLongerThan255BytesLeaveEverythingEmpty) {
  std::string longest(255, 'n');
  expect_parts("d/" + longest + ".img", {"", "d/", longest, ".img"});
  expect_parts("d/" + longest + "n.img", {"", "", "", ""});
  expect_parts(longest + "/x.img", {"", "", "", ""});  // the directory with its separator is 256
  expect_parts("x." + longest, {"", "", "", ""});
}

TEST(SplitPath, DoubleByteCharactersAreOneUnit) {
  // 0x83 0x5C is one Shift-JIS character whose trail byte equals "\".
  const std::string name = "\x83\x5C\x83\x67";
  expect_parts(name + ".img", {"", "", name, ".img"}, CodePage::shift_jis);
  expect_parts("dir\\" + name + ".img", {"", "dir\\", name, ".img"}, CodePage::shift_jis);
  // Read byte by byte, the same bytes hold a separator.
  expect_parts(name + ".img", {"", "\x83\x5C", "\x83\x67", ".img"}, CodePage::single_byte);
  // 0xE0 leads in Shift-JIS and takes "." with it; 0xA0 does not lead.
  expect_parts("a\xE0.b", {"", "", "a\xE0.b", ""}, CodePage::shift_jis);
  expect_parts("a\xA0.b", {"", "", "a\xA0", ".b"}, CodePage::shift_jis);
  expect_parts("a\xA0.b", {"", "", "a\xA0.b", ""}, CodePage::double_byte);
  // A lead byte at the very end stands alone.
  expect_parts("x.img\x83", {"", "", "x", ".img\x83"}, CodePage::shift_jis);
}

// Trailing separators and double-byte names are proven end to end; roots and drives here.
TEST(ParentFolder, RootsDrivesAndRunsOfSeparators) {
  for (auto [path, parent] : {std::pair{"/b", "/"},
                              {"/b//", "/"},
                              {"C:b", "C:"},
                              {"C:\\b\\", "C:\\"},
                              {"a//b/c", "a//b"}}) {
    EXPECT_EQ(parent_folder(path, CodePage::single_byte), parent) << path;
  }
}

TEST(CodePage, FromTheLocaleCharset) {
  EXPECT_EQ(code_page_of("SHIFT_JIS"), CodePage::shift_jis);
  EXPECT_EQ(code_page_of("Shift-JIS"), CodePage::shift_jis);
  EXPECT_EQ(code_page_of("CP932"), CodePage::shift_jis);
  EXPECT_EQ(code_page_of("SJIS"), CodePage::shift_jis);
  EXPECT_EQ(code_page_of("GBK"), CodePage::double_byte);
  EXPECT_EQ(code_page_of("BIG5-HKSCS"), CodePage::double_byte);
  EXPECT_EQ(code_page_of("UTF-8"), CodePage::single_byte);
  EXPECT_EQ(code_page_of("ANSI_X3.4-1968"), CodePage::single_byte);
  EXPECT_EQ(code_page_of(""), CodePage::single_byte);
}

TEST(AsciiLower, OnlyAsciiLettersChange) {
  EXPECT_EQ(ascii_lower(".IMG"), ".img");
  EXPECT_EQ(ascii_lower(".iMg"), ".img");
  EXPECT_EQ(ascii_lower("\xC4.D@T["), "\xC4.d@t[");
}

}  // namespace
}  // namespace kelp
