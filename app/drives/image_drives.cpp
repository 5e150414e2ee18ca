// Image files in the drive lists, where a machine's own disks would be: a
// disk image with its partitions, or the image of one volume.
#include <cstdio>
#include <system_error>

#include "disk/partitions.h"
#include "disk/volume.h"
#include "drives/drive_lists.h"

namespace restorix {

namespace {

// As the drive lists name file systems: FAT16 is "FAT".
const char* ListedFileSystem(FsType type) {
  switch (type) {
    case FsType::Fat16:
      return "FAT";
    case FsType::Fat32:
      return "FAT32";
    case FsType::Ntfs:
      return "NTFS";
    case FsType::Exfat:
      return "exFAT";
    case FsType::None:
      break;
  }
  return "";
}

// Serial numbers as Windows writes them: FAT's 32 bits, NTFS's 64.
std::string SerialText(const VolumeContext& context) {
  char text[24];
  if (context.fsType() == FsType::Ntfs) {
    std::snprintf(text, sizeof text, "%016llX",
                  static_cast<unsigned long long>(context.volumeSerial()));
  } else {
    std::snprintf(text, sizeof text, "%08llX",
                  static_cast<unsigned long long>(context.volumeSerial() & 0xFFFFFFFFu));
  }
  return text;
}

// One volume of the image; what is not recognised is still listed, so that
// opening it tells why it cannot be read.
LogicalDiskInfo ImageVolume(const std::filesystem::path& image, unsigned partition,
                            std::uint64_t bytes) {
  LogicalDiskInfo disk;
  const std::string name = partition
                               ? image.string() + " (partition " + std::to_string(partition) + ")"
                               : image.string();
  disk.displayName = NameWithSize(name, bytes);
  disk.sizeText = std::to_string(bytes);
  disk.volumeName = "<N\\A>";
  disk.driveType = bytes ? 3 : 0;
  disk.devicePath = image.string();
  disk.partition = partition;
  disk.bytes = bytes;
  const OpenResult opened = Volume::Open(SourceKind::LogicalDrive, image, partition);
  if (opened) {
    const VolumeContext& context = opened.volume->context();
    disk.fileSystem = ListedFileSystem(context.fsType());
    disk.volumeSerialNumber = SerialText(context);
    disk.blockBytes = context.clusterBytes();
    disk.blockSize = std::to_string(context.clusterBytes());
  }
  return disk;
}

}  // namespace

void AddImageFile(DriveLists& lists, const std::filesystem::path& image) {
  std::error_code ec;
  const std::uint64_t bytes = std::filesystem::file_size(image, ec);
  if (ec) {
    lists.error = "cannot read " + image.string() + ": " + ec.message();
    return;
  }
  PhysicalDiskInfo disk;
  disk.displayName = NameWithSize(image.string(), bytes);
  disk.sizeText = std::to_string(bytes);
  disk.serialNumber = "N/A";
  disk.interfaceType = "File";
  disk.mediaType = "Image file";
  disk.model = image.string();
  constexpr std::uint64_t kHeads = 255, kSectorsPerTrack = 63, kSector = 512;
  disk.totalCylinders = std::to_string(bytes / (kHeads * kSectorsPerTrack * kSector));
  disk.totalHeads = std::to_string(kHeads);
  disk.totalSectors = std::to_string(bytes / kSector);
  disk.devicePath = image.string();
  disk.bytes = bytes;
  disk.bytesPerSector = kSector;

  const PartitionList table = ListPartitions(image);
  const auto add = [&](unsigned number, std::uint64_t partitionBytes, const std::string& type) {
    PartitionInfo partition;
    partition.displayName = NameWithSize(
        image.string() + ", Partition #" + std::to_string(disk.partitionCount), partitionBytes);
    partition.sizeText = std::to_string(partitionBytes);
    partition.bytes = partitionBytes;
    partition.bootPartition = "No";
    partition.type = type;
    partition.primaryPartition = number <= 4 ? "Yes" : "No";
    partition.devicePath = image.string();
    partition.logicalDiskCount = 1;
    lists.partitions.push_back(std::move(partition));
    lists.logicalDisks.push_back(ImageVolume(image, number, partitionBytes));
    ++disk.partitionCount;
  };
  if (table.entries.empty()) {
    add(0, bytes, "Whole disk");
  } else {
    for (const PartitionEntry& entry : table.entries)
      add(static_cast<unsigned>(entry.number), entry.byteLength(), entry.type);
  }
  disk.partitionsText = std::to_string(disk.partitionCount);
  lists.physicalDisks.push_back(std::move(disk));
}

}  // namespace restorix
