#include "containers/classify.h"

#include <gtest/gtest.h>

#include <array>

namespace kelp {
namespace {

EntryKind classify_words(std::uint32_t w0, std::uint32_t w1,
                         ArchiveRule rule = ArchiveRule::applies) {
  std::array<std::uint8_t, 8> head{};
  for (int i = 0; i < 4; ++i) {
    head[i] = static_cast<std::uint8_t>(w0 >> (8 * i));
    head[4 + i] = static_cast<std::uint8_t>(w1 >> (8 * i));
  }
  return classify_entry(head, rule);
}

std::uint32_t halves(std::uint16_t low, std::uint16_t high) {
  return low | std::uint32_t{high} << 16;
}

TEST(Classify, TagsIgnoreTheFourthByteAndComeFirst) {
  EXPECT_EQ(classify_words(0x00345854, 0), EntryKind::tx4);
  EXPECT_EQ(classify_words(0xFF345854, 0), EntryKind::tx4);
  EXPECT_EQ(classify_words(0x7A385854, 0), EntryKind::tx8);
  EXPECT_EQ(classify_words(0x00544F4D, 0), EntryKind::mot);
  // A "MOT" record whose bytes would also satisfy the package signature stays a "MOT" record.
  EXPECT_EQ(classify_words(0x00544F4D, 0x4F4D + 0x0054), EntryKind::mot);
  // Near misses of a tag are not tags.
  EXPECT_EQ(classify_words(0x00345855, 0), EntryKind::other);
  EXPECT_EQ(classify_words(0x00355854, 0), EntryKind::other);
}

TEST(Classify, PackageSignatureHasNoWrapAroundAndNeedsAStart) {
  EXPECT_TRUE(package_signature(1, 3, 4));
  EXPECT_TRUE(package_signature(0xFFFE, 1, 0xFFFF));
  EXPECT_FALSE(package_signature(0xFFFF, 1, 0));
  EXPECT_FALSE(package_signature(0, 5, 5));
  EXPECT_FALSE(package_signature(0, 0, 0));
  EXPECT_EQ(classify_words(halves(2, 7), 9), EntryKind::package);
  EXPECT_EQ(classify_words(halves(0xFFFF, 1), 0), EntryKind::other);
  EXPECT_EQ(classify_words(halves(0, 9), 9), EntryKind::other);
}

TEST(Classify, ArchiveSignatureWrapsAt32BitsAndOnlyAppliesInPackages) {
  EXPECT_EQ(classify_words(2, 16), EntryKind::archive);
  EXPECT_EQ(classify_words(2, 12), EntryKind::other);
  EXPECT_EQ(classify_words(0, 8), EntryKind::archive);
  EXPECT_EQ(classify_words(0x40000000, 8), EntryKind::archive);  // 0x40000000 * 4 + 8 wraps to 8
  EXPECT_EQ(classify_words(2, 16, ArchiveRule::ignored), EntryKind::other);
}

TEST(Classify, BothSignaturesMakeAPackage) {
  // h0 = 1, h1 = 11, h2 = 12 satisfies the package signature, and 0x000B0001 * 4 + 8 is
  // 0x002C000C, so the archive signature holds as well.
  EXPECT_EQ(classify_words(0x000B0001, 0x002C000C), EntryKind::package);
}

TEST(EntryName, HexIndexWithAtLeastFourUpperCaseDigits) {
  EXPECT_EQ(entry_name("scene", 0), "scene_0000");
  EXPECT_EQ(entry_name("scene", 0x2A), "scene_002A");
  EXPECT_EQ(entry_name("scene", 0xFFFF), "scene_FFFF");
  EXPECT_EQ(entry_name("scene", 0x10000), "scene_10000");
  EXPECT_EQ(entry_name("scene", 0xFFFFFFFF), "scene_FFFFFFFF");
  EXPECT_EQ(entry_name("", 1), "_0001");
  EXPECT_EQ(entry_name(entry_name("scene", 2), 0), "scene_0002_0000");
}

}  // namespace
}  // namespace kelp
