#include "disk/volume_context.h"

#include <gtest/gtest.h>

namespace restorix {
namespace {

using Block = VolumeContext::Block;

// Each field holds the 1-based numbers of its own bytes, so the pinned block
// counts up from 1 to 71 but for the four reserved bytes 64-67, which stay 0.
TEST(VolumeContextTest, LayoutIsPinnedByteForByteAndDecodedBack) {
  VolumeContext c;
  c.setAltBootSector(0x0807060504030201);
  c.setFirstSector(0x100F0E0D0C0B0A09);
  c.setTotalSectors(0x1817161514131211);
  c.setVolumeSerial(0x201F1E1D1C1B1A19);
  c.setFatStart(0x2827262524232221);
  c.setFat2Start(0x302F2E2D2C2B2A29);
  c.setDataStart(0x3837363534333231);
  c.setFatEntryCount(0x3C3B3A39);
  c.setFatSectors(0x3E3D);
  c.setFatKind(0x3F);
  c.setBytesPerSector(0x4544);
  c.setSectorsPerCluster(0x46);
  c.setFsType(static_cast<FsType>(0x47));
  Block expected{};
  for (std::size_t i = 0; i < expected.size(); ++i)
    expected[i] = i >= 63 && i < 67 ? 0 : static_cast<std::uint8_t>(i + 1);
  EXPECT_EQ(c.bytes(), expected);
  EXPECT_EQ(VolumeContext::Decode(expected), c);
  EXPECT_EQ(c.mftCluster(), 0x2827262524232221u);
  EXPECT_EQ(c.mftMirrorCluster(), 0x302F2E2D2C2B2A29u);
  EXPECT_EQ(c.mftRecordSectors(), 0x35);
  EXPECT_EQ(c.indexRecordSectors(), 0x36);
  // The NTFS record sizes overlap bytes four and five of dataStart only.
  c.setMftRecordSectors(2);
  c.setIndexRecordSectors(8);
  expected[0x34] = 2, expected[0x35] = 8;
  EXPECT_EQ(c.bytes(), expected);
  // Decoding keeps the reserved bytes; a short block reads as zeros past its end.
  Block stored{};
  stored[0x3F] = 0xAA, stored[0x42] = 0x55;
  EXPECT_EQ(VolumeContext::Decode(stored).bytes(), stored);
  EXPECT_EQ(VolumeContext::Decode(std::array<std::uint8_t, 3>{1, 2, 3}).altBootSector(), 0x030201u);
}

}  // namespace
}  // namespace restorix
