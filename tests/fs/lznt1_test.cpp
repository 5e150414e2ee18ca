#include "fs/lznt1.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace restorix {
namespace {

using Bytes8 = std::vector<std::uint8_t>;

Bytes8 Header(std::size_t dataBytes, bool compressed) {
  const auto h = static_cast<std::uint16_t>((compressed ? 0xB000 : 0x3000) | (dataBytes - 1));
  return {static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8)};
}

using test::Cat;

// One literal, then one token that copies it 4095 more times from offset 1:
// 4096 bytes of `c` in four bytes of data.
Bytes8 RunChunk(std::uint8_t c) {
  const Bytes8 data = {0x02, c, 0xFC, 0x0F};
  return Cat({Header(data.size(), true), data});
}

TEST(Lznt1Test, ChunksLandAtTheirOwnFourKilobytePlaces) {
  Bytes8 raw(4096);
  for (std::size_t i = 0; i < raw.size(); ++i)
    raw[i] = static_cast<std::uint8_t>(i * 31);
  const Bytes8 unit = Cat({RunChunk('A'), Cat({Header(4096, false), raw}), RunChunk('B'), {0, 0}});
  ASSERT_TRUE(Lznt1ChunksFit(unit));
  Bytes8 out(4 * 4096, 0xEE);
  EXPECT_EQ(Lznt1Decompress(unit, out), 3u * 4096);
  EXPECT_EQ(Bytes8(out.begin(), out.begin() + 4096), Bytes8(4096, 'A'));
  EXPECT_EQ(Bytes8(out.begin() + 4096, out.begin() + 8192), raw);
  EXPECT_EQ(Bytes8(out.begin() + 8192, out.begin() + 12288), Bytes8(4096, 'B'));
  EXPECT_EQ(out[12288], 0xEE) << "nothing is written past the data";
}

TEST(Lznt1Test, OffsetAndLengthSplitMovesWithThePosition) {
  // "abcdefghijklmnopq" (17 literals), then a token at position 17, where
  // the offset has 5 bits and the length 11: copy 20 bytes from 17 back.
  const std::string text = "abcdefghijklmnopq";
  const std::uint16_t token = static_cast<std::uint16_t>(((17 - 1) << 11) | (20 - 3));
  // Flag bytes before each group of eight: literals, then literal 'q' and
  // the token (bit 1).
  const std::string packed = std::string(1, '\0') + text.substr(0, 8) + std::string(1, '\0') +
                             text.substr(8, 8) + "\x02q" + static_cast<char>(token & 0xFF) +
                             static_cast<char>(token >> 8);
  const Bytes8 data(packed.begin(), packed.end());
  const Bytes8 unit = Cat({Header(data.size(), true), data});
  Bytes8 out(4096, 0);
  EXPECT_EQ(Lznt1Decompress(unit, out), 37u);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 37), text + "abcdefghijklmnopqabc");
}

TEST(Lznt1Test, DamagedInputStaysInsideItsBuffers) {
  // A token pointing before the start of the chunk ends the chunk.
  const Bytes8 badOffset = Cat({Header(4, true), {0x02, 'x', 0x00, 0xF0}});
  Bytes8 out(4096, 0);
  EXPECT_EQ(Lznt1Decompress(badOffset, out), 1u);
  // Output smaller than the data: never written past.
  Bytes8 small(100, 0);
  EXPECT_EQ(Lznt1Decompress(RunChunk('Z'), small), 100u);
  EXPECT_EQ(small, Bytes8(100, 'Z'));
  // A chunk that claims more bytes than there are does not fit.
  const Bytes8 cut = Cat({Header(50, true), {0x00, 'a', 'b'}});
  EXPECT_FALSE(Lznt1ChunksFit(cut));
  EXPECT_TRUE(Lznt1ChunksFit(Bytes8{}));
  EXPECT_TRUE(Lznt1ChunksFit(Cat({RunChunk('A'), {0, 0}, {0xFF, 0xFF, 0xFF}})));
  // A token whose second byte is missing ends the chunk quietly.
  const Bytes8 halfToken = Cat({Header(3, true), {0x02, 'x', 0x05}});
  EXPECT_EQ(Lznt1Decompress(halfToken, out), 1u);
}

}  // namespace
}  // namespace restorix
