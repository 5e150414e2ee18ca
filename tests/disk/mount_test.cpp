// Boot-sector recognition on hand-made boot sectors: which byte values are
// accepted, what fills the volume context, where the boot sector is read, and
// the context's stored layout.
#include "disk/mount.h"

#include <gtest/gtest.h>

#include <sstream>

#include "disk/volume.h"
#include "disk/volume_context.h"
#include "support/boot_sectors.h"
#include "support/fake_source.h"

namespace restorix {
namespace {

using test::Fat16Boot;
using test::Fat32Boot;
using test::Sector;
using Block = VolumeContext::Block;

// Each edit writes `value`, little-endian, into `width` bytes at `at`.
using Edits = std::initializer_list<std::tuple<std::size_t, int, std::uint64_t>>;

Sector Edited(Sector s, Edits edits) {
  for (const auto& [at, width, value] : edits) {
    for (int i = 0; i < width; ++i)
      s[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  return s;
}

Sector Ntfs(Edits edits = {}) {
  return Edited(test::NtfsBoot(), edits);
}

TEST(RecognitionTest, AcceptsAndRefusesBootSectors) {
  const char* const None = "";
  const std::tuple<const char*, Sector, std::string> cases[] = {
      {"FAT16", Fat16Boot(), "FAT16 "},
      {"FAT32", Fat32Boot(), "FAT32 "},
      {"NTFS", Ntfs(), "NTFS "},
      {"FAT16 with a 16-bit total", Edited(Fat16Boot(), {{0x20, 4, 0}, {0x13, 2, 40000}}),
       "FAT16 "},
      {"FAT16 without any total", Edited(Fat16Boot(), {{0x20, 4, 0}}), None},
      // 4 + 2 x 200 + 32 sectors before the data, then 4084 clusters of 4: FAT12.
      {"4084 clusters", Edited(Fat16Boot(), {{0x20, 4, 0}, {0x13, 2, 436 + 4084 * 4}}), None},
      {"4085 clusters", Edited(Fat16Boot(), {{0x20, 4, 0}, {0x13, 2, 436 + 4085 * 4}}), "FAT16 "},
      {"FAT16 with one FAT", Edited(Fat16Boot(), {{0x10, 1, 1}}), None},
      {"FAT16 with 224 root entries", Edited(Fat16Boot(), {{0x11, 2, 224}}), None},
      {"FAT32 without the backup boot sector at 6", Edited(Fat32Boot(), {{0x32, 2, 0}}), None},
      {"no 0x90 after the jump", Ntfs({{2, 1, 0}}), None},
      {"0 bytes per sector", Ntfs({{0x0B, 2, 0}}), None},
      {"1000 bytes per sector", Edited(Fat32Boot(), {{0x0B, 2, 1000}}), None},
      {"4096 bytes per sector", Edited(Fat32Boot(), {{0x0B, 2, 4096}}), "FAT32 "},
      {"odd sectors per cluster", Edited(Fat32Boot(), {{0x0D, 1, 3}}), None},
      {"sectors per cluster 0xF4 (2 MiB clusters)", Ntfs({{0x0D, 1, 0xF4}}), None},
      {"sectors per cluster 128", Ntfs({{0x0D, 1, 128}}), "NTFS "},
      {"NTFS MFT cluster all ones", Ntfs({{0x30, 8, ~std::uint64_t{0}}}), None},
      {"NTFS mirror cluster 0", Ntfs({{0x38, 8, 0}}), None},
      {"NTFS total sectors 0", Ntfs({{0x28, 8, 0}}), None},
      {"NTFS with a 32-bit total", Ntfs({{0x20, 4, 5}}), None},
      {"NTFS record size byte 0", Ntfs({{0x40, 1, 0}}), None},
      {"NTFS records of 2 x 128 sectors", Ntfs({{0x0D, 1, 128}, {0x40, 1, 2}}), None},
      {"NTFS records of 2^-128 bytes", Ntfs({{0x40, 1, 0x80}}), None},
      {"NTFS records of 2 MiB", Ntfs({{0x40, 1, 0xEA}}), None}};
  for (const auto& [what, boot, want] : cases) {
    const std::string got = std::string(LooksLikeFat16(boot) ? "FAT16 " : "") +
                            (LooksLikeFat32(boot) ? "FAT32 " : "") +
                            (LooksLikeNtfs(boot) ? "NTFS " : "");
    EXPECT_EQ(got, want) << what;
  }
}

TEST(RecognitionTest, RecordSectorsCountInTheVolumesOwnSectors) {
  EXPECT_EQ(RecordSectors(-10, 8, 512), 2);   // 1 KiB records, 512-byte sectors
  EXPECT_EQ(RecordSectors(-12, 1, 4096), 1);  // 4 KiB records, 4 KiB sectors
  EXPECT_EQ(RecordSectors(-12, 16, 4096), 1);
  EXPECT_EQ(RecordSectors(-10, 1, 4096), 0);  // smaller than a sector: unusable
  EXPECT_EQ(RecordSectors(1, 8, 512), 8);
  EXPECT_EQ(RecordSectors(2, 128, 512), 0);  // low 8 bits of 256
}

// The context in hex; NTFS's MFT cluster, mirror cluster and record sizes
// share the bytes of the FAT starts.
std::string Fields(const VolumeContext& c) {
  std::ostringstream s;
  s << std::hex << "fs " << static_cast<int>(c.fsType()) << " spc " << +c.sectorsPerCluster()
    << " total " << c.totalSectors() << " serial " << c.volumeSerial() << " starts " << c.fatStart()
    << " " << c.fat2Start() << " " << c.dataStart() << " fat " << c.fatEntryCount() << " "
    << c.fatSectors() << " " << +c.fatKind();
  return s.str();
}

TEST(RecogniseVolumeTest, FillsTheContextOfEachFileSystem) {
  const std::pair<Sector, std::string> cases[] = {
      {Fat16Boot(), "fs 1 spc 4 total 32000 serial 0 starts 4 cc 194 fat c800 c8 1"},
      {Edited(Fat16Boot(), {{0x20, 4, 0}, {0x13, 2, 40000}}),
       "fs 1 spc 4 total 9c40 serial 0 starts 4 cc 194 fat c800 c8 1"},
      // The serial number of the extended parameter block, where it has one.
      {Edited(Fat16Boot(), {{0x26, 1, 0x29}, {0x27, 4, 0x52455354}}),
       "fs 1 spc 4 total 32000 serial 52455354 starts 4 cc 194 fat c800 c8 1"},
      {Edited(Fat16Boot(), {{0x26, 1, 0x28}, {0x27, 4, 0x52455354}}),
       "fs 1 spc 4 total 32000 serial 0 starts 4 cc 194 fat c800 c8 1"},
      // Sectors per FAT wider than 16 bits: 0x12345.
      {Edited(Fat32Boot(), {{0x24, 4, 0x12345}}),
       "fs 2 spc 8 total 96000 serial 0 starts 20 12365 246aa fat 91a280 2345 2"},
      {Edited(Fat32Boot(), {{0x42, 1, 0x29}, {0x43, 4, 0xAAACCB2A}}),
       "fs 2 spc 8 total 96000 serial aaaccb2a starts 20 278 4d0 fat 12c00 258 2"},
      // Records of 2 sectors, index records of 8; the FAT-only bytes stay zero.
      {Ntfs(), "fs 3 spc 8 total 7e7ff serial 870803570802c0e starts 5455 2 80200000000 fat 0 0 0"},
      {Sector(512, 0), "none"}};
  for (const auto& [boot, want] : cases) {
    const auto context = RecogniseVolume(boot);
    EXPECT_EQ(context ? Fields(*context) : "none", want);
  }
}

TEST(VolumeOpenTest, ReadsTheBootSectorOnceAndFailsWholeOnALostDevice) {
  Sector disk(8192, 0);
  const Sector boot = Ntfs();
  std::copy(boot.begin(), boot.end(), disk.begin());
  auto unreadable = std::make_shared<test::FakeSource>(disk);
  unreadable->FailRange(0, 512, EIO);
  EXPECT_EQ(Volume::Open(SourceKind::LogicalDrive, unreadable, u"fake").failure,
            OpenFailure::NotRecognised);
  EXPECT_EQ(unreadable->reads(), 1);
  auto lost = std::make_shared<test::FakeSource>(disk);
  lost->LoseAfter(0);
  const OpenResult result = Volume::Open(SourceKind::LogicalDrive, lost, u"fake");
  EXPECT_FALSE(result);
  EXPECT_EQ(result.failure, OpenFailure::CannotOpen);
}

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
