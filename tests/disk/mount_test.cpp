// Boot-sector recognition on hand-made boot sectors: which byte values are
// accepted, what fills the volume context, and where the boot sector is read.
#include "disk/mount.h"

#include <gtest/gtest.h>

#include <functional>

#include "engine.h"
#include "support/boot_sectors.h"
#include "support/fake_source.h"

namespace restorix {
namespace {

using test::Fat16Boot;
using test::Fat32Boot;
using test::NtfsBoot;
using test::Put16;
using test::Put32;
using test::Put64;
using test::Sector;

enum class Want { None, Fat16, Fat32, Ntfs };

Want Recognise(const Sector& s) {
  if (LooksLikeFat16(s)) return Want::Fat16;
  if (LooksLikeFat32(s)) return Want::Fat32;
  if (LooksLikeNtfs(s)) return Want::Ntfs;
  return Want::None;
}

TEST(RecognitionTest, AcceptsAndRefusesBootSectors) {
  struct Case {
    const char* what;
    std::function<Sector()> make;
    Want want;
  };
  const Case cases[] = {
      {"FAT16", Fat16Boot, Want::Fat16},
      {"FAT32", Fat32Boot, Want::Fat32},
      {"NTFS", [] { return NtfsBoot(); }, Want::Ntfs},
      {"FAT16 small enough for the 16-bit total (upper half of the 32-bit total is 0)",
       [] {
         Sector s = Fat16Boot();
         Put32(s, 0x20, 0);
         Put16(s, 0x13, 40000);
         return s;
       },
       Want::None},
      {"FAT16 with one FAT",
       [] {
         Sector s = Fat16Boot();
         s[0x10] = 1;
         return s;
       },
       Want::None},
      {"FAT16 with 224 root entries",
       [] {
         Sector s = Fat16Boot();
         Put16(s, 0x11, 224);
         return s;
       },
       Want::None},
      {"FAT32 without the backup boot sector at 6",
       [] {
         Sector s = Fat32Boot();
         Put16(s, 0x32, 0);
         return s;
       },
       Want::None},
      {"no 0x90 after the jump",
       [] {
         Sector s = NtfsBoot();
         s[2] = 0x00;
         return s;
       },
       Want::None},
      {"0 bytes per sector",
       [] {
         Sector s = NtfsBoot();
         Put16(s, 0x0B, 0);
         return s;
       },
       Want::None},
      {"1000 bytes per sector",
       [] {
         Sector s = Fat32Boot();
         Put16(s, 0x0B, 1000);
         return s;
       },
       Want::None},
      {"4096 bytes per sector",
       [] {
         Sector s = Fat32Boot();
         Put16(s, 0x0B, 4096);
         return s;
       },
       Want::Fat32},
      {"odd sectors per cluster",
       [] {
         Sector s = Fat32Boot();
         s[0x0D] = 3;
         return s;
       },
       Want::None},
      {"sectors per cluster 0xF4 (a 2 MiB cluster as Windows writes it)",
       [] {
         Sector s = NtfsBoot();
         s[0x0D] = 0xF4;
         return s;
       },
       Want::None},
      {"sectors per cluster 128",
       [] {
         Sector s = NtfsBoot();
         s[0x0D] = 128;
         return s;
       },
       Want::Ntfs},
      {"NTFS MFT cluster all ones",
       [] {
         Sector s = NtfsBoot();
         Put64(s, 0x30, ~std::uint64_t{0});
         return s;
       },
       Want::None},
      {"NTFS mirror cluster 0",
       [] {
         Sector s = NtfsBoot();
         Put64(s, 0x38, 0);
         return s;
       },
       Want::None},
      {"NTFS total sectors 0",
       [] {
         Sector s = NtfsBoot();
         Put64(s, 0x28, 0);
         return s;
       },
       Want::None},
      {"NTFS with a 32-bit total",
       [] {
         Sector s = NtfsBoot();
         Put32(s, 0x20, 5);
         return s;
       },
       Want::None},
      {"NTFS record size byte 0 (not a cluster count)",
       [] {
         Sector s = NtfsBoot();
         s[0x40] = 0;
         return s;
       },
       Want::None},
      {"NTFS records of 2 x 128 sectors: the low 8 bits are 0",
       [] {
         Sector s = NtfsBoot();
         s[0x0D] = 128;
         s[0x40] = 2;
         return s;
       },
       Want::None},
      {"NTFS records of 2^-128 bytes (0x80 passes the byte test)",
       [] {
         Sector s = NtfsBoot();
         s[0x40] = 0x80;
         return s;
       },
       Want::None},
      {"NTFS records of 2 MiB",
       [] {
         Sector s = NtfsBoot();
         s[0x40] = 0xEA;
         return s;
       },
       Want::None},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Recognise(c.make()), c.want) << c.what;
}

TEST(RecognitionTest, RecordSectorsCountInTheVolumesOwnSectors) {
  EXPECT_EQ(RecordSectors(-10, 8, 512), 2);   // 1 KiB records, 512-byte sectors
  EXPECT_EQ(RecordSectors(-12, 1, 4096), 1);  // 4 KiB records, 4 KiB sectors
  EXPECT_EQ(RecordSectors(-12, 16, 4096), 1);
  EXPECT_EQ(RecordSectors(-10, 1, 4096), 0);  // smaller than a sector: unusable
  EXPECT_EQ(RecordSectors(1, 8, 512), 8);
  EXPECT_EQ(RecordSectors(2, 128, 512), 0);  // low 8 bits of 256
}

struct Mounted {
  Engine engine;
  test::FakeSource* source = nullptr;
};

std::unique_ptr<Mounted> Mount(const Sector& boot, std::uint64_t altBootSector = 0,
                               std::uint64_t badBytes = 0) {
  auto mounted = std::make_unique<Mounted>();
  Sector disk(8192, 0);
  std::copy(boot.begin(), boot.end(), disk.begin() + 4096);
  if (altBootSector == 0) std::copy(boot.begin(), boot.end(), disk.begin());
  auto source = std::make_unique<test::FakeSource>(disk);
  if (badBytes) source->FailRange(0, badBytes, EIO);
  mounted->source = source.get();
  // A whole-disk open leaves the context as geometry only; recognition runs next.
  EXPECT_TRUE(mounted->engine.OpenSource(SOURCE_PHYSICAL_DISK, std::move(source), u"fake"));
  mounted->engine.context.setBytesPerSector(512);
  mounted->engine.context.setAltBootSector(altBootSector);
  return mounted;
}

TEST(MountVolumeTest, FillsTheContextOfEachFileSystem) {
  {
    auto m = Mount(Fat16Boot());
    ASSERT_TRUE(MountVolume(m->engine));
    const VolumeContext& c = m->engine.context;
    EXPECT_EQ(c.fsType(), FS_FAT16);
    EXPECT_EQ(c.fatKind(), 1);
    EXPECT_EQ(c.fatSectors(), 200);
    EXPECT_EQ(c.fatEntryCount(), 200u * 256);
    EXPECT_EQ(c.totalSectors(), 204800u);
    EXPECT_EQ(c.fatStart(), 4u);
    EXPECT_EQ(c.fat2Start(), 204u);
    EXPECT_EQ(c.dataStart(), 404u);
    EXPECT_EQ(c.sectorsPerCluster(), 4);
  }
  {
    Sector boot = Fat32Boot();
    Put32(boot, 0x24, 0x00012345);  // sectors per FAT wider than 16 bits
    auto m = Mount(boot);
    ASSERT_TRUE(MountVolume(m->engine));
    const VolumeContext& c = m->engine.context;
    EXPECT_EQ(c.fsType(), FS_FAT32);
    EXPECT_EQ(c.fatKind(), 2);
    EXPECT_EQ(c.fatSectors(), 0x2345);
    EXPECT_EQ(c.fatEntryCount(), 0x12345u * 128);
    EXPECT_EQ(c.fatStart(), 32u);
    EXPECT_EQ(c.fat2Start(), 32u + 0x12345);
    EXPECT_EQ(c.dataStart(), 32u + 2 * 0x12345);
  }
  {
    auto m = Mount(NtfsBoot());
    m->engine.context.setFatEntryCount(77);  // NTFS leaves the FAT-only bytes alone
    m->engine.context.setDataStart(0x0000AAAA0000BBBB);
    ASSERT_TRUE(MountVolume(m->engine));
    const VolumeContext& c = m->engine.context;
    EXPECT_EQ(c.fsType(), FS_NTFS);
    EXPECT_EQ(c.totalSectors(), 518143u);
    EXPECT_EQ(c.mftCluster(), 21589u);
    EXPECT_EQ(c.mftMirrorCluster(), 2u);
    EXPECT_EQ(c.volumeSerial(), 0x0870803570802C0Eu);
    EXPECT_EQ(c.mftRecordSectors(), 2);
    EXPECT_EQ(c.indexRecordSectors(), 8);
    EXPECT_EQ(c.fatEntryCount(), 77u);
    EXPECT_EQ(c.dataStart() & 0xFFFFFFFF, 0x0000BBBBu);
  }
}

TEST(MountVolumeTest, LooksForTheSecondBootSectorOnlyWhenOneIsSet) {
  // The first is unreadable and no second is set: one read, not recognised.
  auto first = Mount(NtfsBoot(), 0, 512);
  const int readsBefore = first->source->reads();
  EXPECT_FALSE(MountVolume(first->engine));
  EXPECT_EQ(first->source->reads() - readsBefore, 1);

  // Sector 0 holds nothing; the second boot sector at sector 8 is used.
  auto second = Mount(NtfsBoot(), 8);
  EXPECT_TRUE(MountVolume(second->engine));
  EXPECT_EQ(second->engine.context.fsType(), FS_NTFS);
}

TEST(MountVolumeTest, LostDeviceCountsAsNotRecognised) {
  auto m = Mount(NtfsBoot());
  m->source->LoseAfter(0);
  EXPECT_FALSE(MountVolume(m->engine));
}

}  // namespace
}  // namespace restorix
