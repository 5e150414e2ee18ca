#include "drives/volume_facts.h"

#include <sys/statvfs.h>

#include <cctype>

#include "platform/blkid_probe.h"
#include "util/size_text.h"

namespace restorix::drives {

namespace fs = std::filesystem;

namespace {

struct SuperblockFacts {
  bool readable = false;
  std::string type;  // libblkid's name; empty when no file system was found
  std::string version;
  std::string label;
  std::string uuid;
  std::optional<std::uint64_t> blockSize;
};

SuperblockFacts ProbeSuperblock(const fs::path& path) {
  SuperblockFacts facts;
  BlkidProbe::Opened opened = BlkidProbe::Open(path, BlkidProbe::OpenMode::NonBlocking);
  if (!opened.probe) return facts;
  facts.readable = true;
  BlkidProbe& probe = *opened.probe;
  if (!probe.FindSuperblock()) return facts;
  // Swap, RAID members, LVM and encrypted containers hold no volume of their own.
  if (probe.Value("USAGE") != "filesystem") return facts;
  facts.type = probe.Value("TYPE");
  facts.version = probe.Value("VERSION");
  facts.label = probe.Value("LABEL");
  facts.uuid = probe.Value("UUID");
  const std::string blockSize = probe.Value("BLOCK_SIZE");
  if (!blockSize.empty() && blockSize.find_first_not_of("0123456789") == std::string::npos)
    facts.blockSize = std::stoull(blockSize);
  return facts;
}

// The mount showing the whole volume (root "/") is preferred over bind mounts
// of a folder in it. Device numbers are matched first; btrfs and some FUSE
// mounts report an anonymous number, so the source path is the fallback.
const MountEntry* FindMount(const std::vector<MountEntry>& mounts, const std::string& deviceNumber,
                            const std::string& devicePath) {
  const MountEntry* found = nullptr;
  for (const MountEntry& mount : mounts) {
    const bool same =
        (!deviceNumber.empty() && mount.device == deviceNumber) || mount.source == devicePath;
    if (!same) continue;
    if (mount.root == "/") return &mount;
    if (found == nullptr) found = &mount;
  }
  return found;
}

// The names Windows gives the file systems it knows; others keep libblkid's.
std::string FileSystemText(const std::string& type, const std::string& version,
                           std::optional<std::uint64_t> clusters) {
  if (type == "vfat" || type == "msdos") {
    if (version == "FAT32") return "FAT32";
    if (!version.empty()) return "FAT";
    // A mounted volume that could not be probed: the cluster count decides.
    return clusters && *clusters >= 65525 ? "FAT32" : "FAT";
  }
  if (type == "ntfs" || type == "ntfs3") return "NTFS";
  if (type == "exfat") return "exFAT";
  if (type == "iso9660") return "CDFS";
  if (type == "udf") return "UDF";
  if (type == "fuseblk") return {};  // the mount does not say which file system
  return type;
}

std::string Upper(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// FAT and exFAT serials read "ABCD-1234" in libblkid and "ABCD1234" in the
// designed texts; NTFS keeps a 64-bit serial of which the low half is shown.
std::string VolumeSerialText(const std::string& type, const std::string& uuid) {
  if ((type == "vfat" || type == "exfat") && uuid.size() == 9 && uuid[4] == '-')
    return Upper(uuid.substr(0, 4) + uuid.substr(5));
  if (type == "ntfs" && uuid.size() == 16) return Upper(uuid.substr(8));
  return uuid;
}

}  // namespace

std::optional<VolumeFacts> LookAtVolume(const fs::path& devicePath, const std::string& deviceNumber,
                                        const std::vector<MountEntry>& mounts) {
  VolumeFacts facts;
  const SuperblockFacts probed = ProbeSuperblock(devicePath);
  const MountEntry* mount = FindMount(mounts, deviceNumber, devicePath.string());
  std::optional<std::uint64_t> clusters;
  if (mount != nullptr) {
    facts.mountPoint = mount->mountPoint;
    struct statvfs stats {};
    if (::statvfs(mount->mountPoint.c_str(), &stats) == 0) {
      facts.freeBytes = static_cast<std::uint64_t>(stats.f_bavail) * stats.f_frsize;
      facts.blockBytes = stats.f_bsize;
      clusters = stats.f_blocks;
    }
  }
  if (!probed.type.empty()) {
    facts.identified = true;
    facts.fileSystem = FileSystemText(probed.type, probed.version, clusters);
    facts.label = probed.label;
    facts.serial = VolumeSerialText(probed.type, probed.uuid);
    if (probed.blockSize) facts.blockBytes = probed.blockSize;
  } else if (mount != nullptr) {
    facts.fileSystem = FileSystemText(mount->fsType, "", clusters);
    facts.identified = !facts.fileSystem.empty();
  } else if (probed.readable) {
    return std::nullopt;
  }
  return facts;
}

LogicalDiskInfo MakeLogicalDisk(const std::string& devicePath, std::uint64_t size, bool removable,
                                const VolumeFacts& facts) {
  LogicalDiskInfo drive;
  drive.displayName = NameWithSize(devicePath, size);
  drive.sizeText = std::to_string(size);
  drive.devicePath = devicePath;
  drive.mountPoint = facts.mountPoint;
  // A volume whose file system could not be told is shown like a drive
  // without a medium: nothing about it can be trusted.
  const bool known = size >= 1 && facts.identified;
  drive.volumeName = known && !facts.label.empty() ? facts.label : "<N\\A>";
  drive.volumeSerialNumber = known ? facts.serial : "<N\\A>";
  drive.fileSystem = known ? facts.fileSystem : "<N\\A>";
  drive.freeSpace = !known ? "N\\A" : facts.freeBytes ? SizeText(*facts.freeBytes) : "";
  drive.blockSize = !known ? "N\\A" : facts.blockBytes ? SizeText(*facts.blockBytes) : "";
  drive.driveType = size >= 1 ? (removable ? 2u : 3u) : 0u;
  drive.bytes = size;
  if (known) drive.freeBytes = facts.freeBytes, drive.blockBytes = facts.blockBytes;
  return drive;
}

}  // namespace restorix::drives
