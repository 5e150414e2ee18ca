// The drive lists read from a fake /sys/block, /dev and mountinfo (with real
// volume images where libblkid has to read something), and once from the
// machine itself with a loop device attached.
#include "drives/drive_lists.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "support/test_support.h"
#include "util/size_text.h"

namespace restorix {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::RunOk;

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A machine made of folders: sys/block, sys/devices, dev and a mountinfo file.
class FakeMachine {
 public:
  FakeMachine() {
    fs::create_directories(sysBlock());
    fs::create_directories(dev());
    WriteText(root() / "mountinfo", "");
  }
  fs::path root() const { return temp_.path(); }
  fs::path sysBlock() const { return root() / "sys" / "block"; }
  fs::path dev() const { return root() / "dev"; }
  DriveSources sources() const { return {sysBlock(), dev(), root() / "mountinfo"}; }
  std::string DevPath(const std::string& name) const { return (dev() / name).string(); }

  // A sysfs attribute under sys/block, written as the kernel does, with a newline.
  void Set(const std::string& relative, const std::string& value) const {
    WriteText(sysBlock() / relative, value + "\n");
  }
  void Disk(const std::string& name, std::uint64_t sectors, bool removable = false,
            const std::string& deviceNumber = "") const {
    Set(name + "/size", std::to_string(sectors));
    Set(name + "/removable", removable ? "1" : "0");
    if (!deviceNumber.empty()) Set(name + "/dev", deviceNumber);
  }
  void Partition(const std::string& disk, const std::string& name, int number,
                 std::uint64_t sectors, const std::string& deviceNumber = "") const {
    Set(disk + "/" + name + "/partition", std::to_string(number));
    Set(disk + "/" + name + "/size", std::to_string(sectors));
    if (!deviceNumber.empty()) Set(disk + "/" + name + "/dev", deviceNumber);
  }
  // A device folder under sys/devices, with its bus named by a `subsystem` link.
  fs::path Device(const std::string& relative, const std::string& subsystem) const {
    const fs::path dir = root() / "sys" / "devices" / relative;
    fs::create_directories(dir);
    fs::create_symlink(root() / "sys" / "bus" / subsystem, dir / "subsystem");
    return dir;
  }
  void LinkDevice(const std::string& disk, const fs::path& deviceDir) const {
    fs::create_directories(sysBlock() / disk);
    fs::create_directory_symlink(deviceDir, sysBlock() / disk / "device");
  }
  void AddMount(const std::string& line) const {
    std::ofstream(root() / "mountinfo", std::ios::app) << line << "\n";
  }

 private:
  test::TempDir temp_;
};

// The partitions of disk `disk` and the drives of partition `partition`,
// found through the counts that link the lists.
std::vector<PartitionInfo> PartitionsOf(const DriveLists& lists, std::size_t disk) {
  std::size_t first = 0;
  for (std::size_t d = 0; d < disk; ++d)
    first += lists.physicalDisks[d].partitionCount;
  const std::size_t count = lists.physicalDisks[disk].partitionCount;
  return {lists.partitions.begin() + static_cast<std::ptrdiff_t>(first),
          lists.partitions.begin() + static_cast<std::ptrdiff_t>(first + count)};
}

std::vector<LogicalDiskInfo> DrivesOf(const DriveLists& lists, std::size_t partition) {
  std::size_t first = 0;
  for (std::size_t p = 0; p < partition; ++p)
    first += lists.partitions[p].logicalDiskCount;
  const std::size_t count = lists.partitions[partition].logicalDiskCount;
  return {lists.logicalDisks.begin() + static_cast<std::ptrdiff_t>(first),
          lists.logicalDisks.begin() + static_cast<std::ptrdiff_t>(first + count)};
}

std::size_t DiskIndex(const DriveLists& lists, const std::string& devicePath) {
  for (std::size_t i = 0; i < lists.physicalDisks.size(); ++i) {
    if (lists.physicalDisks[i].devicePath == devicePath) return i;
  }
  ADD_FAILURE() << "no disk " << devicePath;
  return 0;
}

std::vector<std::string> DiskPaths(const DriveLists& lists) {
  std::vector<std::string> paths;
  for (const PhysicalDiskInfo& disk : lists.physicalDisks)
    paths.push_back(disk.devicePath);
  return paths;
}

bool HaveImageTools() {
  return test::HaveTool("sfdisk") && test::HaveTool("mkfs.fat");
}

// ------------------------------------------------------------------- texts

TEST(DriveTextsTest, SizesFollowTheGigabyteAndMegabyteRule) {
  const struct {
    std::uint64_t bytes;
    const char* expected;
  } cases[] = {
      {0, "X (0.00 MB)"},
      {1073741823, "X (1024.00 MB)"},
      {1073741824, "X (1.00 GB)"},
      {256060514304, "X (238.47 GB)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(NameWithSize("X", c.bytes), c.expected) << c.bytes;
}

TEST(DriveTextsTest, MediaTypeKeepsFifteenCharactersUnlessItStartsWithF) {
  const struct {
    const char* input;
    const char* expected;
  } cases[] = {
      {"Removable Media", "Removable Media"},
      {"Removable Media\t", "Removable Media"},
      {"External hard disk media", "External hard d"},
      {"Fixed hard disk media", "Fixed hard disk media"},
      {"Fixed\thard disk media", "Fixed hard disk media"},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(NormaliseMediaType(c.input), c.expected) << c.input;
}

TEST(DriveTextsTest, SerialDecodingSwapsWordsStripsPaddingAndKeepsDigitsAndCapitals) {
  const struct {
    const char* input;
    const char* expected;
  } cases[] = {
      {"", ""},
      {"31535033394A5141", "S13PJ9AQ"},  // "1SP39JQA" as stored in ATA words
      {"3331", "13"},                    // one word, swapped
      {"32315", "12P"},                  // a short last group stays; odd end pads with 0
      {"20203231", "10"},                // padding digits are stripped one by one,
                                         // also the "2" that ends "3132"
      {"4a4b", "KJ"},                    // letters in either case
      {"4A4B", "KJ"},
      {"6161", ""},    // lower-case letters are dropped
      {"z5", "5"},     // z counts 35: 35 * 16 + 5 wraps to '5'
      {"3g31", "10"},  // g counts 16: only its low bits add
      {"!1", ""},      // any other character counts 0
      {"&&3132__", "10"},
      {"2020202020", ""},                     // nothing but padding
      {"2020202020204457572d414d", "WDWMA"},  // "WD-WMA" after blanks; '-' is dropped
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecodeSerialNumber(c.input), c.expected) << c.input;
}

TEST(DriveTextsTest, OnlyLongHexSerialsSpellingTextAreTakenAsSwapped) {
  const struct {
    const char* serial;
    bool swapped;
  } cases[] = {
      {"31535033394A5141", true},      {"2020202020204457572d414d", true},
      {"3153503339", false},            // shorter than four words
      {"31535033394A51", false},        // not whole words
      {"0025388B91B2C1E3", false},      // an NVMe EUI: bytes that are no text
      {"1234567890123456", false},      // a plain number
      {"4C530001230815117223", false},  // a USB serial: 0x01 is no text
      {"WD-WCAV12345678", false},       // already plain text
      {"2020202020202020", false},      // nothing left after decoding
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsSwappedHexSerial(c.serial), c.swapped) << c.serial;
}

// ------------------------------------------------------------- fake sysfs

TEST(DriveListsTest, DisksAreTheWholeDevicesInDeviceNumberOrderWithLoopDevicesLast) {
  FakeMachine m;
  const struct {
    const char* name;
    const char* deviceNumber;
  } disks[] = {
      {"loop10", "7:10"}, {"sdb", "8:16"},       {"nvme1n1", "259:5"}, {"sdaa", "65:160"},
      {"vda", "254:0"},   {"nvme10n1", "259:2"}, {"loop2", "7:2"},     {"sda", "8:0"},
      {"sdz", "65:144"},  {"xvdb", ""},          {"xvda", ""},
  };
  for (const auto& disk : disks) {
    m.Disk(disk.name, 2048, false, disk.deviceNumber);
  }
  m.Set("loop10/loop/backing_file", "/images/a.img");
  m.Set("loop2/loop/backing_file", "/images/b.img");
  // Not physical disks, though each has a size.
  for (const char* name :
       {"loop3", "ram0", "zram0", "dm-0", "md0", "sr0", "mmcblk0boot0", "mmcblk0rpmb", "nvme0c0n1"})
    m.Disk(name, 2048);
  m.Set("nvme0c0n1/hidden", "1");

  const DriveLists lists = EnumerateDrives(m.sources());
  EXPECT_TRUE(lists.error.empty()) << lists.error;
  std::vector<std::string> expected;
  for (const char* name : {"sda", "sdb", "sdz", "sdaa", "vda", "nvme10n1", "nvme1n1", "xvda",
                           "xvdb", "loop2", "loop10"})
    expected.push_back(m.DevPath(name));
  EXPECT_EQ(DiskPaths(lists), expected);
  for (std::size_t i = 0; i < lists.physicalDisks.size(); ++i)
    EXPECT_EQ(lists.physicalDisks[i].displayName, "Disk # " + std::to_string(i) + " (1.00 MB)");
  const PhysicalDiskInfo& loop = lists.physicalDisks[9];
  EXPECT_EQ(loop.model, "/images/b.img");
  EXPECT_EQ(loop.interfaceType, "Loop");
  EXPECT_EQ(loop.serialNumber, "N/A");
}

TEST(DriveListsTest, ADiskOfSizeZeroIsSkippedWithItsPartitions) {
  FakeMachine m;
  m.Disk("sda", 0, true);  // an empty card reader
  m.Partition("sda", "sda1", 1, 2048);
  m.Disk("sdb", 4096);
  m.Partition("sdb", "sdb1", 1, 2048);

  const DriveLists lists = EnumerateDrives(m.sources());
  ASSERT_EQ(lists.physicalDisks.size(), 1u);
  EXPECT_EQ(lists.physicalDisks[0].displayName, "Disk # 0 (2.00 MB)");
  EXPECT_EQ(lists.physicalDisks[0].devicePath, m.DevPath("sdb"));
  ASSERT_EQ(lists.partitions.size(), 1u);
  EXPECT_EQ(lists.partitions[0].devicePath, m.DevPath("sdb1"));
}

TEST(DriveListsTest, DiskSizesAroundOneGigabyte) {
  FakeMachine m;
  m.Disk("sda", 2097152);  // exactly 1 GiB
  m.Disk("sdb", 2097151);  // 512 bytes less
  const DriveLists lists = EnumerateDrives(m.sources());
  ASSERT_EQ(lists.physicalDisks.size(), 2u);
  EXPECT_EQ(lists.physicalDisks[0].displayName, "Disk # 0 (1.00 GB)");
  EXPECT_EQ(lists.physicalDisks[0].sizeText, "1073741824");
  EXPECT_EQ(lists.physicalDisks[1].displayName, "Disk # 1 (1024.00 MB)");
  EXPECT_EQ(lists.physicalDisks[1].sizeText, "1073741312");
}

TEST(DriveListsTest, DiskRecordsTakeModelSerialBusAndMediaFromSysfs) {
  FakeMachine m;
  constexpr std::uint64_t k500GB = 1000215216;  // sectors

  // A SATA disk: libata puts the whole name in the model and "ATA" in the
  // vendor; the serial comes from inquiry page 0x80, padded with blanks.
  m.Disk("sda", k500GB, false, "8:0");
  const fs::path sata = m.Device("pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", "scsi");
  WriteText(sata / "model", "Samsung SSD 860 \n");
  WriteText(sata / "vendor", "ATA     \n");
  WriteText(sata / "vpd_pg80", std::string("\0\x80\0\x14", 4) + "     S3Z9NB0K123456A");
  m.LinkDevice("sda", sata);

  // A USB stick: the serial belongs to the USB device further up.
  m.Disk("sdb", 15633408, true, "8:16");
  const fs::path usb = m.Device("pci0000:00/0000:00:14.0/usb1/1-2", "usb");
  WriteText(usb / "serial", "4C530001230815117223\n");
  const fs::path stick =
      m.Device("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0", "scsi");
  WriteText(stick / "vendor", "SanDisk \n");
  WriteText(stick / "model", "Cruzer Blade    \n");
  m.LinkDevice("sdb", stick);

  // An old disk whose serial is reported as hex digits of swapped words.
  m.Disk("sdc", 2097152, false, "8:32");
  const fs::path old = m.Device("pci0000:00/0000:00:1f.5/ata3/host2/target2:0:0/2:0:0:0", "scsi");
  WriteText(old / "model", "ST3500418AS\n");
  WriteText(old / "vendor", "ATA\n");
  const std::string swapped = "31535033394A5141";
  WriteText(old / "vpd_pg80", std::string("\0\x80\0", 3) + char(swapped.size()) + swapped);
  m.LinkDevice("sdc", old);

  m.Disk("nvme0n1", 1953525168, false, "259:0");
  const fs::path nvme = m.Device("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", "nvme");
  WriteText(nvme / "model", "Samsung SSD 970 EVO Plus 1TB            \n");
  WriteText(nvme / "serial", "S4EWNX0R123456      \n");
  m.LinkDevice("nvme0n1", nvme);

  m.Disk("vda", 536870912, false, "254:0");
  m.Set("vda/serial", "overlayblk");
  m.LinkDevice("vda", m.Device("pci0000:00/0000:00:02.0/virtio1", "virtio"));

  m.Disk("mmcblk0", 62333952, true, "179:0");
  const fs::path card = m.Device("platform/sdhci/mmc_host/mmc0/mmc0:aaaa", "mmc");
  WriteText(card / "serial", "0x1234abcd\n");
  m.LinkDevice("mmcblk0", card);

  const DriveLists lists = EnumerateDrives(m.sources());
  const struct {
    const char* name;
    const char* interfaceType;
    const char* model;
    const char* serial;
    const char* media;
  } cases[] = {
      {"sda", "IDE", "Samsung SSD 860", "S3Z9NB0K123456A", "Fixed hard disk media"},
      {"sdb", "USB", "SanDisk Cruzer Blade", "4C530001230815117223", "Removable Media"},
      {"sdc", "IDE", "ST3500418AS", "S13PJ9AQ", "Fixed hard disk media"},
      {"nvme0n1", "NVMe", "Samsung SSD 970 EVO Plus 1TB", "S4EWNX0R123456",
       "Fixed hard disk media"},
      {"vda", "VirtIO", "", "overlayblk", "Fixed hard disk media"},
      {"mmcblk0", "MMC", "", "0x1234abcd", "Removable Media"},
  };
  ASSERT_EQ(lists.physicalDisks.size(), std::size(cases));
  for (const auto& c : cases) {
    const PhysicalDiskInfo& disk = lists.physicalDisks[DiskIndex(lists, m.DevPath(c.name))];
    EXPECT_EQ(disk.interfaceType, c.interfaceType) << c.name;
    EXPECT_EQ(disk.model, c.model) << c.name;
    EXPECT_EQ(disk.serialNumber, c.serial) << c.name;
    EXPECT_EQ(disk.mediaType, c.media) << c.name;
    EXPECT_EQ(disk.auxText, "") << c.name;
    EXPECT_EQ(disk.partitionsText, "0") << c.name;
  }

  const PhysicalDiskInfo& sata500 = lists.physicalDisks[DiskIndex(lists, m.DevPath("sda"))];
  EXPECT_EQ(sata500.displayName, "Disk # 0 (476.94 GB)");
  EXPECT_EQ(sata500.sizeText, "512110190592");
  EXPECT_EQ(sata500.totalHeads, "255");
  EXPECT_EQ(sata500.totalCylinders, "62260");
  EXPECT_EQ(sata500.totalSectors, "1000206900");
}

TEST(DriveListsTest, TwoDisksWithOnePartitionAndOneDriveEach) {
  FakeMachine m;
  m.Disk("sda", 4194304);
  m.Partition("sda", "sda1", 1, 2097152);
  m.Disk("sdb", 2097152, true);
  m.Partition("sdb", "sdb1", 1, 1048576);

  // No device files: nothing can be probed, so each partition is a volume of
  // unknown kind.
  const DriveLists lists = EnumerateDrives(m.sources());
  ASSERT_EQ(lists.logicalDisks.size(), 2u);
  EXPECT_EQ(lists.logicalDisks[0].displayName, m.DevPath("sda1") + " (1.00 GB)");
  EXPECT_EQ(lists.logicalDisks[1].displayName, m.DevPath("sdb1") + " (512.00 MB)");
  ASSERT_EQ(lists.partitions.size(), 2u);
  EXPECT_EQ(lists.partitions[0].displayName, "Disk #0, Partition #0 (1.00 GB)");
  EXPECT_EQ(lists.partitions[0].logicalDiskCount, 1u);
  EXPECT_EQ(lists.partitions[1].displayName, "Disk #1, Partition #0 (512.00 MB)");
  EXPECT_EQ(lists.partitions[1].logicalDiskCount, 1u);
  ASSERT_EQ(lists.physicalDisks.size(), 2u);
  EXPECT_EQ(lists.physicalDisks[0].displayName, "Disk # 0 (2.00 GB)");
  EXPECT_EQ(lists.physicalDisks[0].partitionCount, 1u);
  EXPECT_EQ(lists.physicalDisks[0].partitionsText, "1");
  EXPECT_EQ(lists.physicalDisks[1].displayName, "Disk # 1 (1.00 GB)");
  EXPECT_EQ(lists.physicalDisks[1].partitionCount, 1u);

  // An unread partition table: the number alone says primary or logical.
  EXPECT_EQ(lists.partitions[0].primaryPartition, "Yes");
  EXPECT_EQ(lists.partitions[0].bootPartition, "No");
  EXPECT_EQ(lists.partitions[0].type, "");
}

TEST(DriveListsTest, VolumesThatCannotBeReadShowTheNotAvailableTexts) {
  FakeMachine m;
  m.Disk("sda", 8388608, false, "8:0");
  m.Partition("sda", "sda1", 1, 2097152, "8:1");
  m.Partition("sda", "sda2", 2, 2, "8:2");  // the extended container
  m.Partition("sda", "sda5", 5, 2097152, "8:5");
  m.Partition("sda", "sda6", 6, 2097152, "8:6");
  m.Disk("sdb", 2097152, true, "8:16");  // unreadable, no partitions, not mounted: maybe blank

  // sda5 is mounted (ext4, found by device number), sda6 too (found by its
  // source, as btrfs reports an anonymous device number).
  const fs::path mountPoint = m.root() / "mnt point";
  fs::create_directories(mountPoint);
  const std::string escaped = (m.root() / "mnt\\040point").string();
  m.AddMount("27 1 8:5 / " + escaped + " rw,relatime shared:1 - ext4 /dev/sda5 rw");
  m.AddMount("28 1 0:45 / " + escaped + " rw,relatime - ext4 " + m.DevPath("sda6") + " rw");

  const DriveLists lists = EnumerateDrives(m.sources());
  ASSERT_EQ(lists.physicalDisks.size(), 2u);
  EXPECT_EQ(lists.physicalDisks[1].partitionCount, 0u);
  EXPECT_EQ(lists.physicalDisks[1].partitionsText, "0");

  ASSERT_EQ(lists.partitions.size(), 3u);
  EXPECT_EQ(lists.partitions[0].devicePath, m.DevPath("sda1"));
  EXPECT_EQ(lists.partitions[1].devicePath, m.DevPath("sda5"));
  EXPECT_EQ(lists.partitions[1].displayName, "Disk #0, Partition #1 (1.00 GB)");
  EXPECT_EQ(lists.partitions[1].primaryPartition, "No");

  ASSERT_EQ(lists.logicalDisks.size(), 3u);
  const LogicalDiskInfo& unknown = lists.logicalDisks[0];
  EXPECT_EQ(unknown.displayName, m.DevPath("sda1") + " (1.00 GB)");
  EXPECT_EQ(unknown.sizeText, "1073741824");
  EXPECT_EQ(unknown.volumeName, "<N\\A>");
  EXPECT_EQ(unknown.volumeSerialNumber, "<N\\A>");
  EXPECT_EQ(unknown.fileSystem, "<N\\A>");
  EXPECT_EQ(unknown.freeSpace, "N\\A");
  EXPECT_EQ(unknown.blockSize, "N\\A");
  EXPECT_EQ(unknown.driveType, 3u);
  EXPECT_EQ(unknown.mountPoint, "");

  // Mounted: the mount says which file system, statvfs how much is free; the
  // label and serial stay unknown.
  for (const LogicalDiskInfo& mounted : {lists.logicalDisks[1], lists.logicalDisks[2]}) {
    EXPECT_EQ(mounted.fileSystem, "ext4") << mounted.devicePath;
    EXPECT_EQ(mounted.mountPoint, mountPoint.string()) << mounted.devicePath;
    EXPECT_EQ(mounted.volumeName, "<N\\A>") << mounted.devicePath;
    EXPECT_EQ(mounted.volumeSerialNumber, "") << mounted.devicePath;
    EXPECT_TRUE(std::regex_match(mounted.freeSpace, std::regex(R"(\d+\.\d\d (GB|MB))")))
        << mounted.freeSpace;
    struct statvfs stats {};
    ASSERT_EQ(::statvfs(mountPoint.c_str(), &stats), 0);
    EXPECT_EQ(mounted.blockSize, SizeText(stats.f_bsize));
  }
}

TEST(DriveListsTest, ReadableDisksGiveTypesFlagsAndFileSystems) {
  if (!HaveImageTools()) GTEST_SKIP() << "needs sfdisk and mkfs.fat";
  FakeMachine m;

  // MBR: a bootable FAT32 partition, an extended one with a logical partition
  // that holds no file system.
  const fs::path sdd = m.dev() / "sdd";
  test::MakeSparseFile(sdd, 64 << 20);
  RunOk(
      "printf 'label: dos\\nstart=2048, size=83968, type=c, bootable\\n"
      "start=88064, size=40960, type=5\\nstart=90112, size=36864, type=83\\n' | sfdisk -q " +
      Quote(sdd.string()));
  RunOk("mkfs.fat -C -F 32 -s 1 -n RESTORIX -i 1234ABCD " + Quote((m.dev() / "sdd1").string()) +
        " 41984 >/dev/null");
  test::MakeSparseFile(m.dev() / "sdd5", 36864 * 512);
  m.Disk("sdd", 131072);
  m.Partition("sdd", "sdd1", 1, 83968, "8:49");
  m.Partition("sdd", "sdd2", 2, 2, "8:50");
  m.Partition("sdd", "sdd5", 5, 36864, "8:53");
  const fs::path mountPoint = m.root() / "mnt";
  fs::create_directories(mountPoint);
  m.AddMount("40 1 8:49 / " + mountPoint.string() + " rw,relatime - vfat /dev/sdd1 rw");

  // GPT: an EFI system partition without a file system, and a FAT16 volume.
  const fs::path sde = m.dev() / "sde";
  test::MakeSparseFile(sde, 16 << 20);
  RunOk(
      "printf 'label: gpt\\nstart=2048, size=4096, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B\\n"
      "start=6144, size=24576, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n' | sfdisk -q " +
      Quote(sde.string()));
  test::MakeSparseFile(m.dev() / "sde1", 4096 * 512);
  RunOk("mkfs.fat -C -F 16 -s 1 -n DATA -i ABCD0001 " + Quote((m.dev() / "sde2").string()) +
        " 12288 >/dev/null");
  m.Disk("sde", 32768);
  m.Partition("sde", "sde1", 1, 4096);
  m.Partition("sde", "sde2", 2, 24576);

  // A removable disk formatted whole, without a partition table.
  RunOk("mkfs.fat -C -F 16 -s 1 -n FLOPPY -i 00C0FFEE " + Quote((m.dev() / "sdf").string()) +
        " 8192 >/dev/null");
  m.Disk("sdf", 16384, true);

  const DriveLists lists = EnumerateDrives(m.sources());
  ASSERT_EQ(DiskPaths(lists),
            (std::vector<std::string>{m.DevPath("sdd"), m.DevPath("sde"), m.DevPath("sdf")}));

  const struct {
    const char* device;
    const char* displayName;
    const char* type;
    const char* boot;
    const char* primary;
    std::uint32_t drives;
  } partitions[] = {
      {"sdd1", "Disk #0, Partition #0 (41.00 MB)", "FAT32 (LBA)", "Yes", "Yes", 1},
      {"sdd5", "Disk #0, Partition #1 (18.00 MB)", "Linux", "No", "No", 0},
      {"sde1", "Disk #1, Partition #0 (2.00 MB)", "GPT: System", "Yes", "Yes", 0},
      {"sde2", "Disk #1, Partition #1 (12.00 MB)", "GPT: Basic Data", "No", "Yes", 1},
      {"sdf", "Disk #2, Partition #0 (8.00 MB)", "Whole disk", "No", "Yes", 1},
  };
  ASSERT_EQ(lists.partitions.size(), std::size(partitions));
  for (std::size_t i = 0; i < std::size(partitions); ++i) {
    const PartitionInfo& p = lists.partitions[i];
    EXPECT_EQ(p.devicePath, m.DevPath(partitions[i].device));
    EXPECT_EQ(p.displayName, partitions[i].displayName) << p.devicePath;
    EXPECT_EQ(p.type, partitions[i].type) << p.devicePath;
    EXPECT_EQ(p.bootPartition, partitions[i].boot) << p.devicePath;
    EXPECT_EQ(p.primaryPartition, partitions[i].primary) << p.devicePath;
    EXPECT_EQ(p.logicalDiskCount, partitions[i].drives) << p.devicePath;
  }

  const struct {
    const char* device;
    const char* label;
    const char* serial;
    const char* fileSystem;
    std::uint32_t driveType;
  } drives[] = {
      {"sdd1", "RESTORIX", "1234ABCD", "FAT32", 3},
      {"sde2", "DATA", "ABCD0001", "FAT", 3},
      {"sdf", "FLOPPY", "00C0FFEE", "FAT", 2},
  };
  ASSERT_EQ(lists.logicalDisks.size(), std::size(drives));
  for (std::size_t i = 0; i < std::size(drives); ++i) {
    const LogicalDiskInfo& d = lists.logicalDisks[i];
    EXPECT_EQ(d.devicePath, m.DevPath(drives[i].device));
    EXPECT_EQ(d.volumeName, drives[i].label) << d.devicePath;
    EXPECT_EQ(d.volumeSerialNumber, drives[i].serial) << d.devicePath;
    EXPECT_EQ(d.fileSystem, drives[i].fileSystem) << d.devicePath;
    EXPECT_EQ(d.driveType, drives[i].driveType) << d.devicePath;
    EXPECT_EQ(d.spareText, "") << d.devicePath;
  }
  EXPECT_EQ(lists.logicalDisks[0].mountPoint, mountPoint.string());
  EXPECT_FALSE(lists.logicalDisks[0].freeSpace.empty());
  // Not mounted: how much is free is not known.
  EXPECT_EQ(lists.logicalDisks[1].mountPoint, "");
  EXPECT_EQ(lists.logicalDisks[1].freeSpace, "");
}

TEST(DriveListsTest, AMissingSysfsIsReported) {
  test::TempDir temp;
  const DriveLists lists = EnumerateDrives({temp / "nothing", temp / "dev", temp / "mountinfo"});
  EXPECT_FALSE(lists.error.empty());
  EXPECT_TRUE(lists.physicalDisks.empty());
}

// ---------------------------------------------------------------- real run

// A loop device attached read-only to an image, detached when it goes.
class AttachedLoop {
 public:
  explicit AttachedLoop(const fs::path& image) {
    const test::CommandResult attached =
        test::Run("losetup -r -f --show -P " + Quote(image.string()));
    if (attached.exitCode != 0) {
      error_ = attached.err;
      return;
    }
    device_ = attached.out.substr(0, attached.out.find('\n'));
  }
  ~AttachedLoop() {
    if (!device_.empty()) test::Run("losetup -d " + Quote(device_));
  }
  AttachedLoop(const AttachedLoop&) = delete;
  AttachedLoop& operator=(const AttachedLoop&) = delete;
  const std::string& device() const { return device_; }
  const std::string& error() const { return error_; }

 private:
  std::string device_;
  std::string error_;
};

bool CanAttachImages() {
  return ::geteuid() == 0 && fs::exists("/dev/loop-control") && test::HaveTool("losetup") &&
         HaveImageTools();
}

TEST(DriveListsTest, AnAttachedImageWithoutPartitionTableIsOneVolume) {
  if (!CanAttachImages()) GTEST_SKIP() << "needs root, loop devices, losetup and mkfs.fat";
  test::TempDir temp;
  const fs::path image = temp / "stick.img";
  RunOk("mkfs.fat -C -F 32 -s 1 -n RESTORIX -i 1234ABCD " + Quote(image.string()) +
        " 49152 >/dev/null");
  AttachedLoop loop(image);
  if (loop.device().empty()) GTEST_SKIP() << "losetup failed: " << loop.error();

  const DriveLists lists = EnumerateDrives();
  EXPECT_TRUE(lists.error.empty()) << lists.error;
  const std::size_t diskIndex = DiskIndex(lists, loop.device());
  const PhysicalDiskInfo& disk = lists.physicalDisks[diskIndex];
  EXPECT_EQ(disk.displayName, "Disk # " + std::to_string(diskIndex) + " (48.00 MB)");
  EXPECT_EQ(disk.sizeText, "50331648");
  EXPECT_EQ(disk.model, fs::canonical(image).string());
  EXPECT_EQ(disk.interfaceType, "Loop");
  EXPECT_EQ(disk.serialNumber, "N/A");
  EXPECT_EQ(disk.mediaType, "Fixed hard disk media");
  EXPECT_EQ(disk.totalCylinders, "6");
  EXPECT_EQ(disk.partitionsText, "1");

  std::size_t partitionIndex = 0;
  for (std::size_t d = 0; d < diskIndex; ++d)
    partitionIndex += lists.physicalDisks[d].partitionCount;
  const std::vector<PartitionInfo> partitions = PartitionsOf(lists, diskIndex);
  ASSERT_EQ(partitions.size(), 1u);
  EXPECT_EQ(partitions[0].devicePath, loop.device());
  EXPECT_EQ(partitions[0].displayName,
            "Disk #" + std::to_string(diskIndex) + ", Partition #0 (48.00 MB)");
  EXPECT_EQ(partitions[0].type, "Whole disk");

  const std::vector<LogicalDiskInfo> drives = DrivesOf(lists, partitionIndex);
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].displayName, loop.device() + " (48.00 MB)");
  EXPECT_EQ(drives[0].volumeName, "RESTORIX");
  EXPECT_EQ(drives[0].volumeSerialNumber, "1234ABCD");
  EXPECT_EQ(drives[0].fileSystem, "FAT32");
  EXPECT_EQ(drives[0].mountPoint, "");
  EXPECT_EQ(drives[0].freeSpace, "");
  EXPECT_EQ(drives[0].driveType, 3u);
}

TEST(DriveListsTest, AnAttachedPartitionedImageListsItsPartition) {
  if (!CanAttachImages()) GTEST_SKIP() << "needs root, loop devices, losetup, sfdisk and mkfs.fat";
  test::TempDir temp;
  const fs::path image = temp / "disk.img";
  const fs::path volume = temp / "volume.img";
  test::MakeSparseFile(image, 48 << 20);
  RunOk("printf 'label: dos\\nstart=2048, type=c, bootable\\n' | sfdisk -q " +
        Quote(image.string()));
  RunOk("mkfs.fat -C -F 32 -s 1 -n RESTORIX -i 1234ABCD " + Quote(volume.string()) +
        " 48128 >/dev/null");
  RunOk("dd if=" + Quote(volume.string()) + " of=" + Quote(image.string()) +
        " bs=512 seek=2048 conv=notrunc,sparse status=none");
  AttachedLoop loop(image);
  if (loop.device().empty()) GTEST_SKIP() << "losetup failed: " << loop.error();
  const std::string name = fs::path(loop.device()).filename().string();
  const fs::path sysPartition = fs::path("/sys/block") / name / (name + "p1");
  const std::string partitionPath = loop.device() + "p1";
  for (int i = 0; i < 50 && !(fs::exists(sysPartition) && fs::exists(partitionPath)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (!fs::exists(sysPartition) || !fs::exists(partitionPath))
    GTEST_SKIP() << "this kernel shows no partitions of loop devices";

  const DriveLists lists = EnumerateDrives();
  EXPECT_TRUE(lists.error.empty()) << lists.error;
  const std::size_t diskIndex = DiskIndex(lists, loop.device());
  std::size_t partitionIndex = 0;
  for (std::size_t d = 0; d < diskIndex; ++d)
    partitionIndex += lists.physicalDisks[d].partitionCount;
  const std::vector<PartitionInfo> partitions = PartitionsOf(lists, diskIndex);
  ASSERT_EQ(partitions.size(), 1u);
  EXPECT_EQ(partitions[0].devicePath, partitionPath);
  EXPECT_EQ(partitions[0].displayName,
            "Disk #" + std::to_string(diskIndex) + ", Partition #0 (47.00 MB)");
  EXPECT_EQ(partitions[0].type, "FAT32 (LBA)");
  EXPECT_EQ(partitions[0].bootPartition, "Yes");
  EXPECT_EQ(partitions[0].primaryPartition, "Yes");

  const std::vector<LogicalDiskInfo> drives = DrivesOf(lists, partitionIndex);
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].displayName, partitionPath + " (47.00 MB)");
  EXPECT_EQ(drives[0].volumeName, "RESTORIX");
  EXPECT_EQ(drives[0].volumeSerialNumber, "1234ABCD");
  EXPECT_EQ(drives[0].fileSystem, "FAT32");
}

}  // namespace
}  // namespace restorix
