#include "containers/lzss.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "builders.h"
#include "reference_lzss.h"

namespace kelp {
namespace {

using test::ByteVec;

// A token of a coded stream: a literal byte, or a copy of `length` bytes from `distance` back.
struct Token {
  int literal = -1;
  std::size_t distance = 0, length = 0;
};
Token lit(char c) {
  return {static_cast<std::uint8_t>(c), 0, 0};
}
Token ref(std::size_t distance, std::size_t length) {
  return {-1, distance, length};
}

// Codes the tokens, a flag byte before every eight, naming each reference's window slot.
ByteVec stream(const std::vector<Token>& tokens) {
  ByteVec coded;
  std::size_t flag_at = 0, position = 0;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (i % 8 == 0) flag_at = coded.size(), coded.push_back(0);
    const Token& token = tokens[i];
    if (token.literal >= 0) {
      coded[flag_at] |= static_cast<std::uint8_t>(1u << (i % 8));
      coded.push_back(static_cast<std::uint8_t>(token.literal));
      position += 1;
    } else {
      std::size_t slot = (position + 0xFEE + 4096 - token.distance) % 4096;
      coded.push_back(static_cast<std::uint8_t>(slot));
      coded.push_back(static_cast<std::uint8_t>((slot >> 8) << 4 | (token.length - 3)));
      position += token.length;
    }
  }
  return coded;
}

class Decode : public ::testing::Test {
 protected:
  ByteVec decode(const ByteVec& coded) {
    std::uint32_t length = lzss_decode(coded, work);
    return ByteVec(work.output(), work.output() + length);
  }
  bool zero_from(std::size_t from, std::size_t to = max_decoded_size) {
    return std::all_of(work.output() + from, work.output() + to,
                       [](std::uint8_t b) { return b == 0; });
  }
  WorkBuffer work = make_work_buffer();
};

TEST_F(Decode, WorkedExamples) {
  ByteVec first{0xFF, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0xFF, 0x49, 0x4A, 0x4B,
                0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x0F, 0x51, 0x52, 0x53, 0x54, 0x00, 0x02};
  EXPECT_EQ(decode(first), test::text_bytes("ABCDEFGHIJKLMNOPQRSTSTSTS"));
  EXPECT_EQ(decode({0x02, 0xE0, 0xF2, 0x5A}), (ByteVec{0, 0, 0, 0, 0, 0x5A}));
}

TEST_F(Decode, EndsWithTheCodedBytes) {
  EXPECT_EQ(decode({}), ByteVec{});
  EXPECT_TRUE(zero_from(0));
  // Five flag bits are left over after the third token.
  EXPECT_EQ(decode({0x07, 'a', 'b', 'c'}), test::text_bytes("abc"));
  // A reference cut after its first byte is dropped.
  EXPECT_EQ(decode({0x01, 'a', 0xEE}), test::text_bytes("a"));
  EXPECT_TRUE(zero_from(1));
}

TEST_F(Decode, ShortDistancesRepeatAndLongOnesCopy) {
  EXPECT_EQ(decode(stream({lit('x'), lit('y'), ref(1, 18)})),
            test::text_bytes("xy" + std::string(18, 'y')));
  // Distance equal to the length is a plain copy; a shorter one repeats the last bytes.
  EXPECT_EQ(decode(stream({lit('a'), lit('b'), lit('c'), ref(3, 3), ref(2, 7)})),
            test::text_bytes("abcabcbcbcbcb"));
  // Longer than a machine word, overlapping its own output.
  std::vector<Token> tokens;
  for (char c : std::string("123456789")) tokens.push_back(lit(c));
  tokens.push_back(ref(9, 18));
  tokens.push_back(ref(10, 5));
  EXPECT_EQ(decode(stream(tokens)), test::text_bytes("123456789123456789123456789"
                                                     "91234"));
}

TEST_F(Decode, UnwrittenSlotsReadAsZeroAndWrittenOnesAsTheirLatestByte) {
  // A first token naming slot 0xFEE: its slots belong to positions not yet written.
  EXPECT_EQ(decode({0x00, 0xEE, 0xFF}), ByteVec(18, 0));
  // From position 3, slot 0xFEE is output position 0: "ABC" repeats.
  EXPECT_EQ(decode({0x07, 'A', 'B', 'C', 0xEE, 0xF3}), test::text_bytes("ABCABCABC"));
  // A run that starts in unwritten slots and reaches written ones: zeros, then "AB".
  EXPECT_EQ(decode({0x03, 'A', 'B', 0xEC, 0xF1}), (ByteVec{'A', 'B', 0, 0, 'A', 'B'}));
  // A slot last written exactly 4096 positions back.
  std::vector<Token> tokens;
  ByteVec expected;
  for (int at = 0; at < 4096; ++at) {
    auto byte = static_cast<char>(at * 7 + at / 13);
    tokens.push_back(lit(byte)), expected.push_back(static_cast<std::uint8_t>(byte));
  }
  tokens.push_back(ref(4096, 18));
  expected.insert(expected.end(), expected.begin(), expected.begin() + 18);
  EXPECT_EQ(decode(stream(tokens)), expected);
}

TEST_F(Decode, StopsAtTheOutputLimit) {
  std::vector<Token> tokens{lit('z')};
  for (std::size_t produced = 1; produced < max_decoded_size; produced += 18)
    tokens.push_back(ref(1, 18));
  tokens.push_back(lit('!'));  // past the limit: ignored
  ByteVec coded = stream(tokens);
  EXPECT_EQ(lzss_decode(coded, work), max_decoded_size);
  EXPECT_EQ(work.output()[max_decoded_size - 1], 'z');
  EXPECT_EQ(test::reference_lzss_decode(coded.data(), coded.size()).size(), max_decoded_size);
}

TEST_F(Decode, ClearsWhatAnEarlierLongerCallWrote) {
  std::vector<Token> tokens{lit('q')};
  for (int k = 0; k < 800; ++k) tokens.push_back(ref(1 + k % 5, 18));
  EXPECT_EQ(lzss_decode(stream(tokens), work), 1u + 800 * 18);
  EXPECT_EQ(decode({0x03, 'a', 'b'}), test::text_bytes("ab"));
  EXPECT_TRUE(zero_from(2));
}

TEST_F(Decode, AgreesWithATextbookDecoderOnRandomStreams) {
  std::mt19937 random(12345);
  for (int round = 0; round < 300; ++round) {
    std::size_t size = random() % (round < 200 ? 64 : 20000);
    ByteVec coded(size);
    for (auto& byte : coded) byte = static_cast<std::uint8_t>(random());
    // Some streams favour short distances, which overlap their own output.
    if (round % 3 == 0) {
      for (std::size_t at = 0; at + 1 < size; at += 3) coded[at] &= 0x0F;
    }
    ByteVec want = test::reference_lzss_decode(coded.data(), coded.size());
    ASSERT_EQ(decode(coded), want) << "round " << round;
    ASSERT_TRUE(zero_from(want.size(), want.size() + 4096));
  }
}

ByteVec texture_like(std::size_t size) {
  ByteVec bytes(size);
  for (std::size_t at = 0; at < size; ++at) {
    std::size_t x = at % 256, y = at / 256;
    bytes[at] = static_cast<std::uint8_t>((x / 8 + y / 8) % 4 * 40 + (x * y) % 3);
  }
  return bytes;
}

TEST(Encode, RoundTripsThroughBothDecoders) {
  std::mt19937 random(99);
  ByteVec random_bytes(70000);
  for (auto& byte : random_bytes) byte = static_cast<std::uint8_t>(random());
  ByteVec far_repeat(5000);
  for (std::size_t at = 0; at < far_repeat.size(); ++at) {
    far_repeat[at] = static_cast<std::uint8_t>(at < 4096 ? random() : far_repeat[at - 4096]);
  }
  std::vector<ByteVec> inputs{{},
                              {0x42},
                              ByteVec(100000, 0),
                              ByteVec(3000, 0xAB),
                              test::text_bytes("ABCABCABCABCABCABCABCABCABCABCABCABC"),
                              random_bytes,
                              far_repeat,
                              texture_like(300000)};
  WorkBuffer work = make_work_buffer();
  for (const ByteVec& input : inputs) {
    ByteVec coded = lzss_encode(input);
    std::uint32_t length = lzss_decode(coded, work);
    ASSERT_EQ(ByteVec(work.output(), work.output() + length), input) << input.size();
    ASSERT_EQ(test::reference_lzss_decode(coded.data(), coded.size()), input) << input.size();
  }
  EXPECT_LT(lzss_encode(ByteVec(100000, 0)).size(), 100000u / 8);
  EXPECT_LT(lzss_encode(texture_like(300000)).size(), 300000u / 4);
}

TEST(Encode, ReferencesReachIntoTheFirstOutputBytesAndTheZeroWindow) {
  // The fourth byte of "ABCABC..." refers to slot 0xFEE, where output position 0 went.
  EXPECT_EQ(lzss_encode(test::text_bytes("ABCABCABC")), (ByteVec{0x07, 'A', 'B', 'C', 0xEE, 0xF3}));
  // Leading zeros come from the window, which starts out zero.
  ByteVec zeros = lzss_encode(ByteVec(18, 0));
  ASSERT_EQ(zeros.size(), 3u);
  EXPECT_EQ(zeros[0], 0x00);
  EXPECT_EQ(zeros[2] & 0x0F, 15);
}

}  // namespace
}  // namespace kelp
