#include "disk/volume_context.h"

#include <gtest/gtest.h>

#include <array>

namespace restorix {
namespace {

// Every field set to a value whose bytes are distinct, then the layout
// written out by hand, byte for byte.
TEST(VolumeContextTest, LayoutIsPinnedByteForByte) {
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
  c.setFsType(0x47);

  const std::array<std::uint8_t, 71> expected = {
      0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,  // altBootSector
      0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10,  // firstSector
      0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18,  // totalSectors
      0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20,  // volumeSerial
      0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28,  // fatStart / mftCluster
      0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F, 0x30,  // fat2Start / mftMirrorCluster
      0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38,  // dataStart
      0x39, 0x3A, 0x3B, 0x3C,                          // fatEntryCount
      0x3D, 0x3E,                                      // fatSectors
      0x3F,                                            // fatKind
      0x00, 0x00, 0x00, 0x00,                          // reserved
      0x44, 0x45,                                      // bytesPerSector
      0x46,                                            // sectorsPerCluster
      0x47,                                            // fsType
  };
  EXPECT_EQ(c.bytes(), expected);
  EXPECT_EQ(VolumeContext::Decode(expected), c);
  // The NTFS names read the shared bytes.
  EXPECT_EQ(c.mftCluster(), c.fatStart());
  EXPECT_EQ(c.mftMirrorCluster(), c.fat2Start());
  EXPECT_EQ(c.mftRecordSectors(), 0x35);
  EXPECT_EQ(c.indexRecordSectors(), 0x36);
}

TEST(VolumeContextTest, NtfsRecordSizesOverlapOnlyBytesFourAndFiveOfDataStart) {
  VolumeContext c;
  c.setDataStart(0x1111111111111111);
  c.setMftRecordSectors(2);
  c.setIndexRecordSectors(8);
  EXPECT_EQ(c.dataStart(), 0x1111080211111111u);
  EXPECT_EQ(c.bytes()[0x34], 2);
  EXPECT_EQ(c.bytes()[0x35], 8);
}

TEST(VolumeContextTest, ReservedBytesSurviveDecodeAndClearZeroesAll) {
  std::array<std::uint8_t, 71> stored{};
  stored[0x3F] = 0xAA;
  stored[0x42] = 0x55;
  VolumeContext c = VolumeContext::Decode(stored);
  EXPECT_EQ(c.bytes(), stored);
  c.Clear();
  EXPECT_EQ(c.bytes(), (std::array<std::uint8_t, 71>{}));
}

TEST(VolumeContextTest, ShortBlockDecodesWithMissingBytesZero) {
  const std::array<std::uint8_t, 3> prefix = {1, 2, 3};
  const VolumeContext c = VolumeContext::Decode(prefix);
  EXPECT_EQ(c.altBootSector(), 0x030201u);
  EXPECT_EQ(c.fsType(), 0);
}

}  // namespace
}  // namespace restorix
