#include "drives/drive_lists.h"

#include <algorithm>
#include <optional>

#include "drives/disk_identity.h"
#include "drives/partition_types.h"
#include "drives/sysfs.h"
#include "drives/volume_facts.h"
#include "platform/mounts.h"
#include "util/size_text.h"

namespace restorix {

namespace fs = std::filesystem;
using drives::DeviceAncestors;
using drives::DiskOrder;
using drives::InterfaceType;
using drives::IsPhysicalDisk;
using drives::ListSysPartitions;
using drives::LookAtVolume;
using drives::MakeLogicalDisk;
using drives::Model;
using drives::OrderOf;
using drives::ProbeTable;
using drives::ReadAttribute;
using drives::ReadNumber;
using drives::SerialNumber;
using drives::SysPartition;
using drives::TableEntry;
using drives::TableFacts;
using drives::VolumeFacts;

namespace {

// Windows reports every disk with 255 heads and 63 sectors per track and the
// cylinders that fit; the same geometry keeps the texts comparable. The
// total of sectors is the device's own, not the cylinders' product: that
// would leave up to 8 MiB at the end of the disk uncounted.
void FillGeometry(PhysicalDiskInfo& disk, std::uint64_t bytes, std::uint64_t sectorSize) {
  constexpr std::uint64_t kHeads = 255, kSectorsPerTrack = 63;
  const std::uint64_t cylinders = bytes / (kHeads * kSectorsPerTrack * sectorSize);
  disk.totalCylinders = std::to_string(cylinders);
  disk.totalHeads = std::to_string(kHeads);
  disk.totalSectors = std::to_string(bytes / sectorSize);
  disk.bytes = bytes;
  disk.bytesPerSector = sectorSize;
}

std::string YesNo(bool value) {
  return value ? "Yes" : "No";
}

}  // namespace

std::string NameWithSize(const std::string& name, std::uint64_t bytes) {
  return name + " (" + SizeText(bytes) + ")";
}

DriveLists EnumerateDrives(const DriveSources& sources) {
  DriveLists lists;
  std::error_code ec;
  std::vector<DiskOrder> disks;
  for (const fs::directory_entry& entry : fs::directory_iterator(sources.sysBlock, ec)) {
    const std::string name = entry.path().filename().string();
    disks.push_back(OrderOf(name, ReadAttribute(entry.path() / "dev")));
  }
  if (ec) {
    lists.error = "cannot read " + sources.sysBlock.string() + ": " + ec.message();
    return lists;
  }
  std::sort(disks.begin(), disks.end());
  const fs::path sysRoot = sources.sysBlock.parent_path();
  const std::vector<MountEntry> mounts = ReadMounts(sources.mountInfo);

  for (const DiskOrder& order : disks) {
    const std::string& name = order.name;
    const fs::path diskDir = sources.sysBlock / name;
    if (!IsPhysicalDisk(name, diskDir)) continue;
    const std::uint64_t diskBytes = ReadNumber(diskDir / "size").value_or(0) * 512;
    if (diskBytes < 1) continue;

    const std::uint32_t diskNumber = static_cast<std::uint32_t>(lists.physicalDisks.size());
    const std::string diskPath = (sources.dev / name).string();
    const bool removable = ReadAttribute(diskDir / "removable") == "1";
    const std::vector<fs::path> ancestors = DeviceAncestors(diskDir, sysRoot);

    PhysicalDiskInfo disk;
    disk.displayName = NameWithSize("Disk # " + std::to_string(diskNumber), diskBytes);
    disk.sizeText = std::to_string(diskBytes);
    disk.devicePath = diskPath;
    disk.serialNumber = SerialNumber(diskDir, ancestors);
    disk.interfaceType = InterfaceType(name, ancestors);
    disk.mediaType = NormaliseMediaType(removable ? "Removable Media" : "Fixed hard disk media");
    disk.model = Model(name, diskDir);
    FillGeometry(disk, diskBytes,
                 std::max<std::uint64_t>(
                     ReadNumber(diskDir / "queue" / "logical_block_size").value_or(512), 512));

    // One volume: a partition, or the whole disk when it has no partition table.
    const auto addPartition = [&](const std::string& devicePath, std::uint64_t bytes,
                                  const TableEntry& entry,
                                  const std::optional<VolumeFacts>& volume) {
      PartitionInfo partition;
      partition.displayName = NameWithSize("Disk #" + std::to_string(diskNumber) + ", Partition #" +
                                               std::to_string(disk.partitionCount),
                                           bytes);
      partition.sizeText = std::to_string(bytes);
      partition.bytes = bytes;
      partition.bootPartition = YesNo(entry.boot);
      partition.type = entry.type;
      partition.primaryPartition = YesNo(entry.primary);
      partition.devicePath = devicePath;
      if (volume) {
        lists.logicalDisks.push_back(MakeLogicalDisk(devicePath, bytes, removable, *volume));
        partition.logicalDiskCount = 1;
      }
      lists.partitions.push_back(std::move(partition));
      ++disk.partitionCount;
    };

    const std::vector<SysPartition> sysPartitions = ListSysPartitions(diskDir);
    if (!sysPartitions.empty()) {
      const TableFacts table = ProbeTable(diskPath);
      for (const SysPartition& sys : sysPartitions) {
        TableEntry entry;
        const auto known = table.entries.find(sys.number);
        if (known != table.entries.end()) {
          entry = known->second;
        } else {
          entry.primary = sys.number <= 4;
          // Unread tables still show the MBR extended container: the kernel
          // gives it a token size of one or two sectors.
          entry.extended = !table.readable && sys.number <= 4 && sys.bytes <= 8 * 512;
        }
        // The extended container holds the logical partitions, not a volume.
        if (entry.extended) continue;
        const std::string path = (sources.dev / sys.name).string();
        addPartition(path, sys.bytes, entry, LookAtVolume(path, sys.deviceNumber, mounts));
      }
    } else {
      const std::string deviceNumber = ReadAttribute(diskDir / "dev");
      std::optional<VolumeFacts> volume = LookAtVolume(diskPath, deviceNumber, mounts);
      // An unreadable disk without partitions that is not mounted may as well
      // be blank; only a known file system makes it a volume.
      if (volume && volume->identified) {
        TableEntry entry;
        entry.type = "Whole disk";
        addPartition(diskPath, diskBytes, entry, volume);
      }
    }
    disk.partitionsText = std::to_string(disk.partitionCount);
    lists.physicalDisks.push_back(std::move(disk));
  }
  return lists;
}

}  // namespace restorix
