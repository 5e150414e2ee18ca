// Where sources and outputs keep their bytes, and when an output would land
// on a source: over a made-up /sys and mount table, and over real loop
// devices and mounts when run as root.
#include "platform/storage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>

#include "platform/file_io.h"
#include "support/test_support.h"

namespace restorix {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr std::uint64_t MiB = 1 << 20;

void Put(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text << "\n";
}

// A machine in a folder: a disk sda with two partitions, a mapper device on
// sda2, a RAID device over sdb and sdc, loop0 over the second MiB of
// disk.img, loop1 over all of it with a partition loop1p1 over that same
// second MiB, and a mapper device dm-1 that lists itself below itself.
// Mounted: a FUSE file system over disk.img, an fuseblk one over /dev/loop0
// (a device node made here, so root only), an overlay whose upper folder is
// on a file system that the table says is stored in real.img, a network
// file system, and a btrfs one stored in other.img.
struct FakeMachine {
  TempDir dir;
  fs::path sys = dir / "sys";
  fs::path disk = dir / "disk.img", other = dir / "other.img", real = dir / "real.img";
  bool withNodes = ::geteuid() == 0;
  SystemTables tables{sys, dir / "mountinfo"};

  FakeMachine() {
    for (const fs::path& file : {disk, other, real})
      test::MakeSparseFile(file, 2 * MiB);
    Block("devices/pci/block/sda", "8:0", 2000000);
    Partition("devices/pci/block/sda/sda1", "8:1", 2048, 100000);
    Partition("devices/pci/block/sda/sda2", "8:2", 102048, 100000);
    Block("devices/pci/block/sdb", "8:16", 50000);
    Block("devices/pci/block/sdc", "8:32", 50000);
    Block("devices/virtual/block/dm-0", "253:0", 100000);
    Slave("devices/virtual/block/dm-0", "devices/pci/block/sda/sda2");
    Block("devices/virtual/block/md0", "9:0", 50000);
    Slave("devices/virtual/block/md0", "devices/pci/block/sdb");
    Slave("devices/virtual/block/md0", "devices/pci/block/sdc");
    Block("devices/virtual/block/dm-1", "253:1", 100);
    Slave("devices/virtual/block/dm-1", "devices/virtual/block/dm-1");
    Loop("devices/virtual/block/loop0", "7:0", disk, MiB, MiB);
    Loop("devices/virtual/block/loop1", "7:1", disk, 0, 0);
    Partition("devices/virtual/block/loop1/loop1p1", "259:0", 2048, 2048);

    const fs::path upper = dir / "up per,dir";  // written escaped in the table
    fs::create_directory(upper);
    struct stat st {};
    ::stat(upper.c_str(), &st);
    std::string table = "60 1 0:51 / /mnt/fuse rw - fuse " + disk.string() + " rw\n" +
                        "62 1 0:52 / /mnt/overlay rw - overlay overlay rw,lowerdir=/x,upperdir=" +
                        dir.path().string() + "/up\\040per\\054dir,workdir=/nonexistent\n" +
                        "63 1 " + std::to_string(major(st.st_dev)) + ":" +
                        std::to_string(minor(st.st_dev)) + " / /real rw - ext4 " + real.string() +
                        " rw\n" + "64 1 0:53 / /mnt/nfs rw - nfs4 server:/export rw\n" +
                        "65 1 0:54 / /mnt/btrfs rw - btrfs " + other.string() + " rw\n";
    if (withNodes) {
      const fs::path node = dir / "dev-loop0";
      ::mknod(node.c_str(), S_IFBLK | 0600, makedev(7, 0));
      table += "61 1 0:50 / /mnt/fuseblk rw - fuseblk " + node.string() + " rw\n";
    }
    Put(tables.mountInfo, table);
  }
  void Block(const std::string& node, const std::string& number, std::uint64_t sectors) {
    Put(sys / node / "dev", number);
    Put(sys / node / "size", std::to_string(sectors));
    fs::create_directories(sys / "dev/block");
    fs::create_symlink(sys / node, sys / "dev/block" / number);
  }
  void Partition(const std::string& node, const std::string& number, std::uint64_t start,
                 std::uint64_t sectors) {
    Block(node, number, sectors);
    Put(sys / node / "partition", "1");
    Put(sys / node / "start", std::to_string(start));
  }
  void Slave(const std::string& node, const std::string& under) {
    fs::create_directories(sys / node / "slaves");
    fs::create_symlink(sys / under, sys / node / "slaves" / fs::path(under).filename());
  }
  void Loop(const std::string& node, const std::string& number, const fs::path& backing,
            std::uint64_t offset, std::uint64_t limit) {
    Block(node, number, (limit ? limit : 2 * MiB - offset) / 512);
    Put(sys / node / "loop/backing_file", backing.string());
    Put(sys / node / "loop/offset", std::to_string(offset));
    Put(sys / node / "loop/sizelimit", std::to_string(limit));
  }
  SourceIdentity File(const fs::path& file, std::uint64_t first = 0,
                      std::uint64_t length = 2 * MiB) const {
    struct stat st {};
    ::stat(file.c_str(), &st);
    return {SourceIdentity::Kind::File, st.st_dev, st.st_ino, first, length};
  }
};

SourceIdentity Device(unsigned high, unsigned low, std::uint64_t first = 0,
                      std::uint64_t length = kToTheEnd) {
  return {SourceIdentity::Kind::BlockDevice, makedev(high, low), 0, first, length};
}

TEST(StorageMapTest, AnOutputClashesWithASourceOnlyWhereTheyShareBytes) {
  FakeMachine machine;
  const StorageMap map(machine.tables);
  const dev_t sda1 = makedev(8, 1), sda2 = makedev(8, 2);
  // An output: the device number of the file system it is written on, the
  // existing file or device it replaces, and the folder it goes in.
  struct Output {
    dev_t fileSystem;
    std::optional<HeldBytes> itself;
    fs::path folder;
  };
  const auto newFileOn = [](dev_t fileSystem, fs::path folder = {}) {
    return Output{fileSystem, std::nullopt, std::move(folder)};
  };
  const auto rawDevice = [](dev_t device) {
    return Output{
        makedev(0, 99), HeldBytes{{Store::Kind::Device, device, 0}, 0, kToTheEnd, true, "raw"}, {}};
  };
  const SourceIdentity fileOnSda1{SourceIdentity::Kind::File, sda1, 12, 0, 4096};
  struct stat diskStat {};
  ::stat(machine.disk.c_str(), &diskStat);
  const Output diskItself{
      makedev(0, 99),
      HeldBytes{{Store::Kind::File, diskStat.st_dev, diskStat.st_ino}, 0, kToTheEnd, true, "out"},
      {}};
  const std::uint64_t sda2First = 102048 * 512;
  struct Case {
    const char* what;
    SourceIdentity source;
    Output output;
    std::string shared;  // the store both use ("source": the source's own), or empty
  };
  const Case cases[] = {
      {"the disk under a partition's file system", Device(8, 0), newFileOn(sda1), "/dev/sda"},
      {"the partition beside it", Device(8, 1), newFileOn(sda2), ""},
      {"the disk's window over partition 2", Device(8, 0, sda2First, 512), newFileOn(sda2),
       "/dev/sda"},
      {"the disk's window just before partition 2", Device(8, 0, sda2First - 512, 512),
       newFileOn(sda2), ""},
      {"a partition under a mapper device", Device(8, 2), newFileOn(makedev(253, 0)), "/dev/sda2"},
      {"a partition beside a mapper device", Device(8, 1), newFileOn(makedev(253, 0)), ""},
      {"a mapper device over the output's partition", Device(253, 0), newFileOn(sda2), "/dev/sda2"},
      {"a RAID member", Device(8, 32), newFileOn(makedev(9, 0)), "/dev/sdc"},
      {"a loop device over the same file range", Device(7, 0), newFileOn(makedev(259, 0)),
       machine.disk.string()},
      {"a loop window ending where the other begins", Device(7, 1, 0, MiB),
       newFileOn(makedev(7, 0)), ""},
      {"a loop window one sector into the other", Device(7, 1, 0, MiB + 512),
       newFileOn(makedev(7, 0)), machine.disk.string()},
      {"a file under a FUSE mount", machine.File(machine.disk), newFileOn(makedev(0, 51)),
       "source"},
      {"a file's first MiB, with the second mounted", machine.File(machine.disk, 0, MiB),
       newFileOn(makedev(7, 0)), ""},
      {"the file the overlay's upper folder is stored in", machine.File(machine.real),
       newFileOn(makedev(0, 52)), "source"},
      {"another file", machine.File(machine.other), newFileOn(makedev(0, 51)), ""},
      {"anything, under a network file system", Device(8, 0), newFileOn(makedev(0, 53)), ""},
      {"the file written over", machine.File(machine.disk), diskItself, "source"},
      {"a file beside the one written over", machine.File(machine.other), diskItself, ""},
      {"a file among new files on its file system", fileOnSda1, newFileOn(sda1), ""},
      {"a file under a raw write to its partition", fileOnSda1, rawDevice(sda1), "/dev/sda1"},
      {"a mapper device that lists itself", Device(253, 1), newFileOn(sda2), ""},
      {"a file under an unlisted btrfs subvolume", machine.File(machine.other),
       newFileOn(makedev(0, 61), "/mnt/btrfs/home/sub"), "source"},
      {"a file beside the mount of an unlisted device", machine.File(machine.other),
       newFileOn(makedev(0, 61), "/mnt/btrfsx"), ""},
  };
  for (const Case& c : cases) {
    const auto shared =
        SharedBytes(map.Source(c.source, "source"),
                    map.Output(c.output.fileSystem, c.output.itself, c.output.folder));
    EXPECT_EQ(shared ? shared->name : "", c.shared) << c.what;
  }
  if (machine.withNodes) {
    const auto shared =
        SharedBytes(map.Source(Device(7, 1), "source"), map.Output(makedev(0, 50), std::nullopt));
    ASSERT_TRUE(shared) << "an fuseblk mount over loop0";
    EXPECT_EQ(std::tuple(shared->name, shared->first, shared->end),
              std::tuple(machine.disk.string(), MiB, 2 * MiB));
  }
}

// The message names both paths and the bytes they share.
TEST(StorageMapTest, TheRefusalNamesBothPathsAndTheSharedBytes) {
  HeldBytes shared{{Store::Kind::File, 1, 2}, 1024, 2048, true, "/srv/disk.img"};
  EXPECT_EQ(OntoSourceMessage("/mnt/rescue", "/dev/loop1", shared),
            "'/mnt/rescue' lies on the source '/dev/loop1': both are held in /srv/disk.img, bytes "
            "1024 to 2047");
  shared.end = kToTheEnd;
  EXPECT_TRUE(OntoSourceMessage("a", "b", shared).ends_with("bytes 1024 onwards"));
  EXPECT_FALSE(OutputOntoSource("/", SourceIdentity{}, "memory")) << "a source in memory";
}

// Real loop devices over one image file: loopA over MiB 4 to 12 with an
// NTFS volume mounted from it by ntfs-3g, loopB over the whole file. Windows
// of loopB, and of the file itself, clash with the mount exactly where they
// overlap loopA.
TEST(StorageMapTest, RealLoopDevicesAndAMountOverOneImage) {
  if (::geteuid() != 0 || !test::HaveTool("losetup") || !test::HaveTool("ntfs-3g")) {
    GTEST_SKIP() << "needs root, losetup and ntfs-3g";
  }
  TempDir dir;
  const std::string image = (dir / "disk.img").string(), mnt = (dir / "mnt").string();
  fs::create_directory(mnt);
  test::MakeSparseFile(image, 16 * MiB);
  const auto attach = [&](const std::string& options) {
    const auto result = test::Run("losetup --find --show " + options + " " + test::Quote(image));
    return result.exitCode == 0 ? result.out.substr(0, result.out.find('\n')) : std::string();
  };
  const std::string loopA =
      attach("--offset " + std::to_string(4 * MiB) + " --sizelimit " + std::to_string(8 * MiB));
  const std::string loopB = attach("");
  if (loopA.empty() || loopB.empty()) {
    if (!loopA.empty()) test::Run("losetup -d " + loopA);
    GTEST_SKIP() << "no loop devices here";
  }
  test::RunOk("mkntfs -F -q -Q " + loopA + " >/dev/null 2>&1");
  // ntfs-3g's output goes to a file: a daemon that keeps the pipe would
  // hold the test up.
  const std::string log = test::Quote((dir / "ntfs-3g.log").string());
  if (test::Run("ntfs-3g " + loopA + " " + test::Quote(mnt) + " >" + log + " 2>&1").exitCode != 0) {
    test::Run("losetup -d " + loopA + " " + loopB);
    GTEST_SKIP() << "cannot mount with ntfs-3g here";
  }
  for (const std::string& path : {loopB, image}) {
    ASSERT_TRUE(FileSource::Open(path).source) << path;
    struct Window {
      std::uint64_t first, length;
      bool clash;
    };
    for (const Window w : {Window{0, 4 * MiB, false}, Window{4 * MiB - 512, 512, false},
                           Window{4 * MiB - 512, 1024, true}, Window{12 * MiB - 512, 512, true},
                           Window{12 * MiB, 4 * MiB, false}}) {
      auto window = FileSource::Open(path).source;
      window->Narrow(w.first, w.length);
      const auto shared = OutputOntoSource(mnt + "/rescue/new", window->identity(), path);
      EXPECT_EQ(shared.has_value(), w.clash) << path << " from " << w.first << ", " << w.length;
      if (shared) {
        EXPECT_EQ(shared->name, image);
      }
    }
  }
  test::Run("umount " + test::Quote(mnt));
  test::Run("losetup -d " + loopA + " " + loopB);
}

}  // namespace
}  // namespace restorix
