// The drive lists read from a fake /sys, and once from the machine itself
// with an image attached to a loop device.
#include "drives/drive_lists.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <tuple>

#include "support/test_support.h"

namespace restorix {
namespace {

namespace fs = std::filesystem;

// A fake /sys under one folder, which also stands for /dev. Each line names a
// folder and its entries: "FOLDER: name=text; name->target", a file written
// with the kernel's newline or a link to a path under the fake /sys.
struct FakeSys {
  test::TempDir root;
  void Add(std::initializer_list<std::string> lines) const {
    for (const std::string& line : lines) {
      const fs::path folder = root / line.substr(0, line.find(": "));
      fs::create_directories(folder);
      std::istringstream entries(line.substr(line.find(": ") + 2));
      for (std::string entry; std::getline(entries, entry, ';');) {
        entry.erase(0, entry.find_first_not_of(' '));
        const auto equals = entry.find('='), arrow = entry.find("->");
        if (equals < arrow)
          std::ofstream(folder / entry.substr(0, equals)) << entry.substr(equals + 1) << '\n';
        if (arrow < equals)
          fs::create_symlink(root / entry.substr(arrow + 2), folder / entry.substr(0, arrow));
      }
    }
  }
  std::string Text() const;
};

// The lists as text: each disk, then its partitions, each followed by its
// volumes, as the counts link them; fields joined by '|', `root` left out.
std::string Text(const DriveLists& l, const std::string& root) {
  std::ostringstream out;
  std::size_t p = 0, v = 0;
  for (const PhysicalDiskInfo& d : l.physicalDisks) {
    out << "disk " << d.devicePath << '|' << d.displayName << '|' << d.interfaceType << '|'
        << d.model << '|' << d.serialNumber << '|' << d.mediaType << '|' << d.partitionsText << '|'
        << d.totalCylinders << '\n';
    for (std::uint32_t i = 0; i < d.partitionCount && p < l.partitions.size(); ++i) {
      const PartitionInfo& part = l.partitions[p++];
      out << " partition " << part.devicePath << '|' << part.displayName << '|' << part.type << '|'
          << part.bootPartition << '|' << part.primaryPartition << '\n';
      for (std::uint32_t j = 0; j < part.logicalDiskCount && v < l.logicalDisks.size(); ++j) {
        const LogicalDiskInfo& x = l.logicalDisks[v++];
        out << "  volume " << x.displayName << '|' << x.volumeName << '|' << x.volumeSerialNumber
            << '|' << x.fileSystem << '|' << x.freeSpace << '|' << x.blockSize << '|' << x.driveType
            << '|' << x.mountPoint << '\n';
      }
    }
  }
  if (p != l.partitions.size() || v != l.logicalDisks.size()) out << "not linked by the counts\n";
  std::string text = out.str() + l.error;
  for (auto at = text.find(root); !root.empty() && at != std::string::npos; at = text.find(root))
    text.erase(at, root.size());
  return text;
}
std::string FakeSys::Text() const {
  return restorix::Text(EnumerateDrives({root / "block", root / "dev", root / "none"}),
                        root.path().string());
}

TEST(DriveTextsTest, SizesMediaTypesAndSerials) {
  EXPECT_EQ(NameWithSize("X", 1073741824) + NameWithSize("", 1073741823) + NameWithSize("", 0),
            "X (1.00 GB) (1024.00 MB) (0.00 MB)");
  EXPECT_EQ(
      NormaliseMediaType("External hard disk media") + NormaliseMediaType("Fixed\thard disk media"),
      "External hard dFixed hard disk media");
  // A serial, whether it is in the swapped form, and what decoding gives.
  const std::tuple<const char*, bool, const char*> serials[] = {
      {"31535033394A5141", true, "S13PJ9AQ"},       // "1SP39JQA" as stored in ATA words
      {"2020202020204457572d414d", true, "WDWMA"},  // blanks, then "WD-WMA"; '-' is dropped
      {"313233343536", false, "214365"},            // short: three words, swapped
      {"32315", false, "12P"},                      // an odd end pads with 0
      {"20203231", false, "10"},  // padding digits are stripped one by one, also the "2" of "3132"
      {"6161", false, ""},        // lower-case letters are dropped
      {"z5", false, "5"},         // z counts 35: 35 * 16 + 5 wraps to '5'
      {"&&3132__", false, "10"},  // other characters count 0
      {"13.3", false, "10"},      // "." is padding too, stripped before the pairs
      {"2020202020202020", false, ""},       // nothing but padding
      {"0025388B91B2C1E3", false, nullptr},  // an NVMe EUI: bytes that are no text
      {"WD-WCAV12345678", false, nullptr},   // plain text already
  };
  for (const auto& [serial, swapped, decoded] : serials) {
    EXPECT_EQ(IsSwappedHexSerial(serial), swapped) << serial;
    EXPECT_EQ(decoded ? DecodeSerialNumber(serial) : "", decoded ? decoded : "") << serial;
  }
}

TEST(DriveListsTest, AFakeMachineIsListedAsDesigned) {
  FakeSys sys;
  // Each block device with its number ("-": none) and device folder; the
  // last nine are no physical disks.
  std::istringstream disks(
      "loop10 - - nvme1n1 259:5 nvme sdaa 65:160 usb/sdaa nvme10n1 259:2 - loop2 - - "
      "sdz 65:144 ata1/sdz sdb 8:16 - sdc 8:32 ata3/sdc mmcblk0 179:0 mmc vda 254:0 virtio "
      "xvdb - - xvda - scsi loop3 - - ram0 - - zram0 - - dm-0 - - md0 - - sr0 - - "
      "mmcblk0boot0 - - mmcblk0rpmb - - nvme0c0n1 - -");
  for (std::string name, number, device; disks >> name >> number >> device;)
    sys.Add({"block/" + name + ": size=2048; dev=" + number +
             (device == "-" ? "" : "; device->devices/" + device)});
  // loop3 has nothing attached, nvme0c0n1 is a hidden multipath path; sdb, an
  // empty card reader, yields nothing, not even its partition.
  sys.Add({"block/loop10/loop: backing_file=/a.img", "block/loop2/loop: backing_file=/b.img",
           "block/nvme0c0n1: hidden=1", "block/sdb: size=0; removable=1",
           "block/sdb/sdb1: partition=1; size=2048"});
  // sdz2 of a token size is the extended container of a table not read; the
  // number alone makes sdz4 primary and sdaa5 logical. Nothing can be probed.
  sys.Add({"block/sdz: size=4194304", "block/sdz/sdz4: partition=4; size=2097152",
           "block/sdz/sdz2: partition=2; size=2", "block/sdaa: size=2097152; removable=1",
           "block/sdaa/sdaa5: partition=5; size=1048576"});
  // libata puts the whole name in the model and "ATA" in the vendor; the
  // serial is in inquiry page 0x80, at times as swapped hex.
  sys.Add(
      {"devices/ata1/sdz: subsystem->bus/scsi; model=Samsung SSD 860 ; vendor=ATA  ; "
       "vpd_pg80=" +
           std::string("\0\x80\0\x14", 4) + "     S3Z9NB0K123456A",
       "devices/ata3/sdc: subsystem->bus/scsi; model=ST3500418AS; vendor=ATA; vpd_pg80=" +
           std::string("\0\x80\0\x10", 4) + "31535033394A5141"});
  // A USB stick: the maker in the vendor, the serial in the USB device further up.
  sys.Add({"devices/usb: subsystem->bus/usb; serial=4C530001230815117223",
           "devices/usb/sdaa: subsystem->bus/scsi; vendor=SanDisk ; model=Cruzer Blade  ",
           "devices/scsi: subsystem->bus/scsi; vendor=Linux; model=debug",
           "devices/nvme: subsystem->bus/nvme; model=Samsung SSD 970  ; serial=S4EWNX0R1  ",
           "devices/mmc: subsystem->bus/mmc; serial=0x1234abcd",
           "devices/virtio: subsystem->bus/virtio", "block/vda: serial=overlayblk"});
  EXPECT_EQ(sys.Text(),
            "disk /dev/sdc|Disk # 0 (1.00 MB)|IDE|ST3500418AS|S13PJ9AQ|Fixed hard disk media|0|0\n"
            "disk /dev/sdz|Disk # 1 (2.00 GB)|IDE|Samsung SSD 860|S3Z9NB0K123456A|"
            "Fixed hard disk media|1|261\n"
            " partition /dev/sdz4|Disk #1, Partition #0 (1.00 GB)||No|Yes\n"
            "  volume /dev/sdz4 (1.00 GB)|<N\\A>|<N\\A>|<N\\A>|N\\A|N\\A|3|\n"
            "disk /dev/sdaa|Disk # 2 (1.00 GB)|USB|SanDisk Cruzer Blade|4C530001230815117223|"
            "Removable Media|1|130\n"
            " partition /dev/sdaa5|Disk #2, Partition #0 (512.00 MB)||No|No\n"
            "  volume /dev/sdaa5 (512.00 MB)|<N\\A>|<N\\A>|<N\\A>|N\\A|N\\A|2|\n"
            "disk /dev/mmcblk0|Disk # 3 (1.00 MB)|MMC||0x1234abcd|Fixed hard disk media|0|0\n"
            "disk /dev/vda|Disk # 4 (1.00 MB)|VirtIO||overlayblk|Fixed hard disk media|0|0\n"
            "disk /dev/nvme10n1|Disk # 5 (1.00 MB)|||N/A|Fixed hard disk media|0|0\n"
            "disk /dev/nvme1n1|Disk # 6 (1.00 MB)|NVMe|Samsung SSD 970|S4EWNX0R1|"
            "Fixed hard disk media|0|0\n"
            "disk /dev/xvda|Disk # 7 (1.00 MB)|SCSI|Linux debug|N/A|Fixed hard disk media|0|0\n"
            "disk /dev/xvdb|Disk # 8 (1.00 MB)|||N/A|Fixed hard disk media|0|0\n"
            "disk /dev/loop2|Disk # 9 (1.00 MB)|Loop|/b.img|N/A|Fixed hard disk media|0|0\n"
            "disk /dev/loop10|Disk # 10 (1.00 MB)|Loop|/a.img|N/A|Fixed hard disk media|0|0\n");
}

// Partition tables and file systems are probed on the devices, here images in
// the fake /dev: an MBR disk whose first partition boots, with a swap space and
// a partition whose device is missing in its extended container, and a GPT
// disk with a blank EFI system partition.
TEST(DriveListsTest, TablesAndFileSystemsAreProbedOnTheDevices) {
  for (const char* tool : {"sfdisk", "mkfs.fat", "mkswap", "mkfs.ext4"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << "needs " << tool;
  }
  FakeSys sys;
  sys.Add({"block/sdx: size=131072; dev=8:0", "block/sdx/sdx1: partition=1; size=40960",
           "block/sdx/sdx2: partition=2; size=2", "block/sdx/sdx5: partition=5; size=20480",
           "block/sdx/sdx6: partition=6; size=20480", "block/sdy: size=131072; dev=8:16",
           "block/sdy/sdy1: partition=1; size=20480", "block/sdy/sdy2: partition=2; size=20480"});
  const auto make = [&](const std::string& name, std::uint64_t bytes, const std::string& tool) {
    fs::create_directories(sys.root / "dev");
    test::MakeSparseFile(sys.root / "dev" / name, bytes);
    test::RunOk(tool + " " + test::Quote((sys.root / "dev" / name).string()) + " >/dev/null 2>&1");
  };
  make("sdx", 64 << 20,
       "printf 'label: dos\\nsize=20480, type=7, bootable\\ntype=5\\nsize=10240, type=82\\n"
       "size=10240, type=c\\n' | sfdisk -q");
  make("sdx1", 20 << 20, "mkfs.fat -F 16 -n MBRDATA -i 1234abcd");
  make("sdx5", 10 << 20, "mkswap");
  make("sdy", 64 << 20,
       "printf 'label: gpt\\nsize=20480, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B\\n"
       "size=20480, type=0FC63DAF-8483-4772-8E79-3D69D8477DE4\\n' | sfdisk -q");
  make("sdy1", 10 << 20, "true");
  make("sdy2", 10 << 20, "mkfs.ext4 -q -F -b 1024 -L home -U 01234567-89ab-cdef-0123-456789abcdef");
  EXPECT_EQ(
      sys.Text(),
      "disk /dev/sdx|Disk # 0 (64.00 MB)|||N/A|Fixed hard disk media|3|8\n"
      " partition /dev/sdx1|Disk #0, Partition #0 (20.00 MB)|Installable File System|Yes|Yes\n"
      "  volume /dev/sdx1 (20.00 MB)|MBRDATA|1234ABCD|FAT||0.00 MB|3|\n"
      " partition /dev/sdx5|Disk #0, Partition #1 (10.00 MB)|Linux Swap|No|No\n"
      " partition /dev/sdx6|Disk #0, Partition #2 (10.00 MB)|FAT32 (LBA)|No|No\n"
      "  volume /dev/sdx6 (10.00 MB)|<N\\A>|<N\\A>|<N\\A>|N\\A|N\\A|3|\n"
      "disk /dev/sdy|Disk # 1 (64.00 MB)|||N/A|Fixed hard disk media|2|8\n"
      " partition /dev/sdy1|Disk #1, Partition #0 (10.00 MB)|GPT: System|Yes|Yes\n"
      " partition /dev/sdy2|Disk #1, Partition #1 (10.00 MB)|GPT: Linux Filesystem|No|Yes\n"
      "  volume /dev/sdy2 (10.00 MB)|home|01234567-89ab-cdef-0123-456789abcdef|ext4||0.00 MB|"
      "3|\n");
}

TEST(DriveListsTest, AnImageAttachedToALoopDeviceIsOneDiskWithOneVolume) {
  if (::geteuid() != 0 || !fs::exists("/dev/loop-control") || !test::HaveTool("losetup") ||
      !test::HaveTool("mkfs.fat"))
    GTEST_SKIP() << "needs root, loop devices, losetup and mkfs.fat";
  test::TempDir temp;
  const std::string image = (temp / "stick.img").string();
  test::RunOk("mkfs.fat -C -F 32 -s 1 -n RESTORIX -i 1234ABCD " + test::Quote(image) +
              " 49152 >/dev/null");
  const test::CommandResult attached = test::Run("losetup -r -f --show " + test::Quote(image));
  if (attached.exitCode != 0) GTEST_SKIP() << "losetup failed: " << attached.err;
  const struct Detach {
    std::string device;
    ~Detach() { test::Run("losetup -d " + test::Quote(device)); }
  } loop{attached.out.substr(0, attached.out.find('\n'))};

  const DriveLists lists = EnumerateDrives();
  std::size_t n = 0;
  while (n < lists.physicalDisks.size() && lists.physicalDisks[n].devicePath != loop.device)
    ++n;
  const std::string text = Text(lists, ""), number = std::to_string(n);
  const std::string expected = "disk " + loop.device + "|Disk # " + number + " (48.00 MB)|Loop|" +
                               fs::canonical(image).string() +
                               "|N/A|Fixed hard disk media|1|6\n partition " + loop.device +
                               "|Disk #" + number +
                               ", Partition #0 (48.00 MB)|Whole disk|No|Yes\n"
                               "  volume " +
                               loop.device + " (48.00 MB)|RESTORIX|1234ABCD|FAT32||0.00 MB|3|\n";
  EXPECT_NE(text.find(expected), std::string::npos) << expected << "is not in\n" << text;
}

// Image files listed as drives: a disk image with its partitions, a file
// with no volume (listed, so that opening it says why not), and a file that
// is not there.
TEST(ImageDrivesTest, ImageFilesAreListedAsDisksAndVolumes) {
  DriveLists lists;
  const fs::path demo = test::Fixture("demo-disk.img");
  AddImageFile(lists, demo);
  ASSERT_EQ(lists.physicalDisks.size(), 1u);
  const PhysicalDiskInfo& disk = lists.physicalDisks[0];
  EXPECT_EQ(disk.devicePath, demo.string());
  EXPECT_EQ(disk.partitionCount, 2u);
  EXPECT_EQ(disk.bytes, fs::file_size(demo));
  EXPECT_EQ(disk.interfaceType, "File");
  ASSERT_EQ(lists.logicalDisks.size(), 2u);
  EXPECT_EQ(lists.logicalDisks[0].fileSystem, "FAT32");
  EXPECT_EQ(lists.logicalDisks[0].partition, 1u);
  EXPECT_EQ(lists.logicalDisks[0].bytes, 81920u * 512);
  EXPECT_EQ(lists.logicalDisks[0].displayName, demo.string() + " (partition 1) (40.00 MB)");
  EXPECT_EQ(lists.logicalDisks[1].fileSystem, "NTFS");
  EXPECT_EQ(lists.logicalDisks[1].volumeSerialNumber.size(), 16u);

  test::TempDir dir;
  const fs::path blank = dir / "blank.img";
  std::ofstream(blank, std::ios::binary) << std::string(4096, '\0');
  AddImageFile(lists, blank);
  ASSERT_EQ(lists.logicalDisks.size(), 3u);
  EXPECT_EQ(lists.logicalDisks[2].partition, 0u);
  EXPECT_EQ(lists.logicalDisks[2].fileSystem, "");
  EXPECT_TRUE(lists.error.empty());

  AddImageFile(lists, dir / "missing.img");
  EXPECT_EQ(lists.physicalDisks.size(), 2u);
  EXPECT_NE(lists.error.find("missing.img"), std::string::npos);
}

}  // namespace
}  // namespace restorix
