#include "drives/drive_lists.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <tuple>

#include "platform/blkid_probe.h"
#include "platform/mounts.h"
#include "util/size_text.h"

namespace restorix {

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- small reads

std::string Trim(std::string_view text) {
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0';
  };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return std::string(text);
}

// A sysfs attribute, trimmed; empty when it is missing or unreadable.
std::string ReadAttribute(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::stringstream text;
  text << in.rdbuf();
  return Trim(text.str());
}

std::optional<std::uint64_t> ReadNumber(const fs::path& path) {
  const std::string text = ReadAttribute(path);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

std::string Decimal(std::uint64_t value) {
  return std::to_string(value);
}

std::string Upper(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// "loop2" before "loop10": runs of digits compare as numbers.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const auto isDigit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t endA = i, endB = j;
      while (endA < a.size() && isDigit(a[endA]))
        ++endA;
      while (endB < b.size() && isDigit(b[endB]))
        ++endB;
      const std::uint64_t numA = std::stoull(a.substr(i, std::min<std::size_t>(endA - i, 18)));
      const std::uint64_t numB = std::stoull(b.substr(j, std::min<std::size_t>(endB - j, 18)));
      if (numA != numB) return numA < numB;
      i = endA;
      j = endB;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

// Where a disk goes in the list. Disks are numbered as the kernel numbered
// their devices (major, then minor), which follows the order they were found
// in and keeps sdz before sdaa; loop devices come last, so that attaching an
// image never renumbers the machine's own disks.
struct DiskOrder {
  bool loop = false;
  bool numbered = false;
  unsigned major = 0, minor = 0;
  std::string name;

  bool operator<(const DiskOrder& other) const {
    if (loop != other.loop) return other.loop;
    if (numbered != other.numbered) return numbered;
    if (numbered && (major != other.major || minor != other.minor))
      return std::tie(major, minor) < std::tie(other.major, other.minor);
    return NaturalLess(name, other.name);
  }
};

DiskOrder OrderOf(const std::string& name, const std::string& deviceNumber) {
  DiskOrder order;
  order.name = name;
  order.loop = name.rfind("loop", 0) == 0;
  order.numbered = std::sscanf(deviceNumber.c_str(), "%u:%u", &order.major, &order.minor) == 2;
  return order;
}

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

struct TableEntry {
  std::string type;
  bool boot = false;
  bool primary = true;
  bool extended = false;
};

struct TableFacts {
  bool readable = false;
  std::map<int, TableEntry> entries;  // by partition number, as the kernel numbers them
};

constexpr const char* kEfiSystemGuid = "c12a7328-f81f-11d2-ba4b-00a0c93ec93b";

std::string MbrTypeName(int code) {
  switch (code) {
    case 0x01:
      return "12-bit FAT";
    case 0x04:
      return "16-bit FAT";
    case 0x05:
      return "Extended Partition";
    case 0x06:
      return "MS-DOS V4 Huge";
    case 0x07:
      return "Installable File System";
    case 0x0B:
      return "FAT32";
    case 0x0C:
      return "FAT32 (LBA)";
    case 0x0E:
      return "16-bit FAT (LBA)";
    case 0x0F:
      return "Extended w/Extended Int 13";
    case 0x27:
      return "Windows Recovery";
    case 0x42:
      return "Logical Disk Manager";
    case 0x82:
      return "Linux Swap";
    case 0x83:
      return "Linux";
    case 0x8E:
      return "Linux LVM";
    case 0xEE:
      return "GPT Protective";
    case 0xEF:
      return "EFI System";
    case 0xFD:
      return "Linux RAID";
    default:
      break;
  }
  char text[24];
  std::snprintf(text, sizeof text, "Unknown (0x%02X)", static_cast<unsigned>(code) & 0xFFu);
  return text;
}

std::string GptTypeName(std::string_view guid) {
  static const std::map<std::string, std::string, std::less<>> kNames = {
      {kEfiSystemGuid, "GPT: System"},
      {"ebd0a0a2-b9e5-4433-87c0-68b6b72699c7", "GPT: Basic Data"},
      {"e3c9e316-0b5c-4db8-817d-f92df00215ae", "GPT: Microsoft Reserved"},
      {"de94bba4-06d1-4d40-a16a-bfd50179d6ac", "GPT: Windows Recovery"},
      {"5808c8aa-7e8f-42e0-85d2-e1e90434cfb3", "GPT: Logical Disk Manager Metadata"},
      {"af9b60a0-1431-4f62-bc68-3311714a69ad", "GPT: Logical Disk Manager Data"},
      {"21686148-6449-6e6f-744e-656564454649", "GPT: BIOS Boot"},
      {"0fc63daf-8483-4772-8e79-3d69d8477de4", "GPT: Linux Filesystem"},
      {"4f68bce3-e8cd-4db1-96e7-fbcaf984b709", "GPT: Linux Root (x86-64)"},
      {"0657fd6d-a4ab-43c4-84e5-0933c84b4f4f", "GPT: Linux Swap"},
      {"e6d6d379-f507-44c2-a23c-238f2a3df928", "GPT: Linux LVM"},
      {"a19d880f-05fc-4d3b-a006-743f0f84911e", "GPT: Linux RAID"},
  };
  std::string lower(guid);
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto found = kNames.find(lower);
  return found != kNames.end() ? found->second : "GPT: Unknown";
}

TableFacts ProbeTable(const fs::path& diskPath) {
  TableFacts facts;
  BlkidProbe::Opened opened = BlkidProbe::Open(diskPath, BlkidProbe::OpenMode::NonBlocking);
  if (!opened.probe) return facts;
  facts.readable = true;
  for (const ProbedPartition& partition : opened.probe->ReadPartitions().entries) {
    TableEntry entry;
    if (partition.table == "gpt") {
      entry.type = GptTypeName(partition.typeString);
      // GPT has no active flag; the EFI system partition is what boots.
      entry.boot = entry.type == GptTypeName(kEfiSystemGuid);
    } else {
      entry.type = MbrTypeName(partition.typeCode);
      entry.boot = (partition.flags & 0x80) != 0;
    }
    entry.primary = partition.primary;
    entry.extended = partition.extended;
    facts.entries[partition.number] = entry;
  }
  return facts;
}

// ------------------------------------------------------------------ mountinfo

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

// ------------------------------------------------------------ volume texts

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

// FAT and exFAT serials read "ABCD-1234" in libblkid and "ABCD1234" in the
// designed texts; NTFS keeps a 64-bit serial of which the low half is shown.
std::string VolumeSerialText(const std::string& type, const std::string& uuid) {
  if ((type == "vfat" || type == "exfat") && uuid.size() == 9 && uuid[4] == '-')
    return Upper(uuid.substr(0, 4) + uuid.substr(5));
  if (type == "ntfs" && uuid.size() == 16) return Upper(uuid.substr(8));
  return uuid;
}

struct VolumeFacts {
  bool identified = false;  // the file system is known
  std::string fileSystem;
  std::string label;
  std::string serial;
  std::string mountPoint;
  std::optional<std::uint64_t> freeBytes;
  std::optional<std::uint64_t> blockBytes;
};

// What is known of the volume at `devicePath`; nullopt when it holds no
// file system (probed and found none, and not mounted).
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
  drive.sizeText = Decimal(size);
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
  return drive;
}

// ------------------------------------------------------------ disk facts

// Block devices that are no physical disk: memory and compressed-memory disks,
// device-mapper and software RAID (built on disks that are listed themselves),
// optical and floppy drives, the eMMC boot and RPMB areas, hidden NVMe
// multipath paths, and loop devices with nothing attached.
bool IsPhysicalDisk(const std::string& name, const fs::path& dir) {
  for (const char* prefix : {"ram", "zram", "dm-", "md", "sr", "fd"}) {
    if (StartsWith(name, prefix)) return false;
  }
  if (StartsWith(name, "mmcblk") &&
      (name.find("boot") != std::string::npos || name.find("rpmb") != std::string::npos))
    return false;
  if (ReadAttribute(dir / "hidden") == "1") return false;
  if (StartsWith(name, "loop")) return !ReadAttribute(dir / "loop" / "backing_file").empty();
  return true;
}

// The folders from the disk's device up to the top of sysfs.
std::vector<fs::path> DeviceAncestors(const fs::path& diskDir, const fs::path& sysRoot) {
  std::vector<fs::path> chain;
  std::error_code ec;
  fs::path at = fs::canonical(diskDir / "device", ec);
  if (ec) return chain;
  const fs::path top = fs::weakly_canonical(sysRoot, ec);
  while (!at.empty() && at != top && at != at.root_path()) {
    // Never walk out of the sysfs tree being read.
    const auto [mismatch, rest] = std::mismatch(top.begin(), top.end(), at.begin(), at.end());
    if (mismatch != top.end()) break;
    chain.push_back(at);
    at = at.parent_path();
  }
  return chain;
}

std::string SubsystemOf(const fs::path& dir) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(dir / "subsystem", ec);
  return ec ? std::string() : target.filename().string();
}

std::string InterfaceType(const std::string& name, const std::vector<fs::path>& ancestors) {
  if (StartsWith(name, "loop")) return "Loop";
  bool usb = false, firewire = false, ata = false, nvme = false, mmc = false, virtio = false,
       scsi = false;
  for (const fs::path& dir : ancestors) {
    const std::string subsystem = SubsystemOf(dir);
    const std::string folder = dir.filename().string();
    usb |= subsystem == "usb";
    firewire |= subsystem == "firewire" || subsystem == "ieee1394";
    ata |= folder.size() > 3 && StartsWith(folder, "ata") &&
           folder.find_first_not_of("0123456789", 3) == std::string::npos;
    nvme |= subsystem == "nvme";
    mmc |= subsystem == "mmc";
    virtio |= subsystem == "virtio";
    scsi |= subsystem == "scsi";
  }
  // A USB or FireWire disk is also a SCSI device; the outermost bus is the one
  // the user plugs in. ATA keeps the name Windows gives it, which the drive
  // page uses to pick the internal-disk icon.
  if (usb) return "USB";
  if (firewire) return "1394";
  if (ata) return "IDE";
  if (nvme) return "NVMe";
  if (mmc) return "MMC";
  if (virtio) return "VirtIO";
  if (scsi) return "SCSI";
  return {};
}

// SCSI inquiry page 0x80: a 4-byte header whose last byte is the length.
std::string SerialFromVpdPage(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (page.size() < 4) return {};
  const std::size_t length = static_cast<unsigned char>(page[3]);
  return Trim(std::string_view(page).substr(4, length));
}

// The serial as the kernel reports it: virtio disks in the disk's own folder,
// NVMe and MMC in the device, SCSI and ATA in inquiry page 0x80, USB disks in
// the USB device further up.
std::string ReportedSerial(const fs::path& diskDir, const std::vector<fs::path>& ancestors) {
  for (const fs::path& file : {diskDir / "serial", diskDir / "device" / "serial"}) {
    std::string serial = ReadAttribute(file);
    if (!serial.empty()) return serial;
  }
  std::string serial = SerialFromVpdPage(diskDir / "device" / "vpd_pg80");
  if (!serial.empty()) return serial;
  for (const fs::path& dir : ancestors) {
    if (SubsystemOf(dir) != "usb") continue;
    serial = ReadAttribute(dir / "serial");
    if (!serial.empty()) return serial;
  }
  return {};
}

std::string SerialNumber(const fs::path& diskDir, const std::vector<fs::path>& ancestors) {
  const std::string serial = ReportedSerial(diskDir, ancestors);
  if (serial.empty()) return "N/A";
  return IsSwappedHexSerial(serial) ? DecodeSerialNumber(serial) : serial;
}

std::string Model(const std::string& name, const fs::path& diskDir) {
  if (StartsWith(name, "loop")) return ReadAttribute(diskDir / "loop" / "backing_file");
  const std::string model = ReadAttribute(diskDir / "device" / "model");
  // SCSI and USB models leave the maker to the vendor field; libata puts the
  // whole name in the model and "ATA" in the vendor.
  if (SubsystemOf(diskDir / "device") == "scsi") {
    const std::string vendor = ReadAttribute(diskDir / "device" / "vendor");
    if (!vendor.empty() && vendor != "ATA" && !StartsWith(model, vendor))
      return model.empty() ? vendor : vendor + " " + model;
  }
  return model;
}

// Windows reports every disk with 255 heads and 63 sectors per track and the
// cylinders that fit; the same geometry keeps the texts comparable.
void FillGeometry(PhysicalDiskInfo& disk, std::uint64_t bytes, std::uint64_t sectorSize) {
  constexpr std::uint64_t kHeads = 255, kSectorsPerTrack = 63;
  const std::uint64_t cylinders = bytes / (kHeads * kSectorsPerTrack * sectorSize);
  disk.totalCylinders = Decimal(cylinders);
  disk.totalHeads = Decimal(kHeads);
  disk.totalSectors = Decimal(cylinders * kHeads * kSectorsPerTrack);
}

struct SysPartition {
  int number = 0;
  std::string name;
  std::uint64_t bytes = 0;
  std::string deviceNumber;
};

std::vector<SysPartition> ListSysPartitions(const fs::path& diskDir) {
  std::vector<SysPartition> found;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(diskDir, ec)) {
    const fs::path dir = entry.path();
    const std::string number = ReadAttribute(dir / "partition");
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) continue;
    SysPartition partition;
    partition.number = std::stoi(number);
    partition.name = dir.filename().string();
    partition.bytes = ReadNumber(dir / "size").value_or(0) * 512;
    partition.deviceNumber = ReadAttribute(dir / "dev");
    found.push_back(std::move(partition));
  }
  std::sort(found.begin(), found.end(),
            [](const SysPartition& a, const SysPartition& b) { return a.number < b.number; });
  return found;
}

std::string YesNo(bool value) {
  return value ? "Yes" : "No";
}

}  // namespace

// --------------------------------------------------------------- public texts

std::string NameWithSize(const std::string& name, std::uint64_t bytes) {
  return name + " (" + SizeText(bytes) + ")";
}

std::string NormaliseMediaType(std::string_view mediaType) {
  std::string text(mediaType);
  std::replace(text.begin(), text.end(), '\t', ' ');
  if (!StartsWith(text, "F") && text.size() > 15) text.resize(15);
  return text;
}

std::string DecodeSerialNumber(std::string_view swappedHex) {
  std::string text(swappedHex);
  for (std::size_t i = 0; i + 4 <= text.size(); i += 4) {
    std::swap(text[i], text[i + 2]);
    std::swap(text[i + 1], text[i + 3]);
  }
  const char* const kPadding = "20&._";
  const std::size_t first = text.find_first_not_of(kPadding);
  if (first == std::string::npos) return {};
  text = text.substr(first, text.find_last_not_of(kPadding) - first + 1);

  const auto digitValue = [](char c) -> unsigned {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    const int lower = std::tolower(static_cast<unsigned char>(c));
    if (lower >= 'a' && lower <= 'z') return static_cast<unsigned>(lower - 'a' + 10);
    return 0;
  };
  std::string serial;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const unsigned high = digitValue(text[i]);
    const unsigned low = i + 1 < text.size() ? digitValue(text[i + 1]) : 0;
    const char byte = static_cast<char>((high * 16 + (low & 0x0F)) & 0xFF);
    if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z')) serial += byte;
  }
  return serial;
}

bool IsSwappedHexSerial(std::string_view serial) {
  if (serial.size() < 16 || serial.size() % 4 != 0) return false;
  if (!std::all_of(serial.begin(), serial.end(),
                   [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }))
    return false;
  const auto nibble = [](char c) {
    return static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                     ? c - '0'
                                     : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
  };
  for (std::size_t word = 0; word < serial.size(); word += 4) {
    // The second byte of each word comes first once the word is swapped.
    for (const std::size_t at : {word + 2, word}) {
      const unsigned byte = nibble(serial[at]) * 16 + nibble(serial[at + 1]);
      if (byte != 0 && (byte < 0x20 || byte > 0x7E)) return false;
    }
  }
  return !DecodeSerialNumber(serial).empty();
}

// ------------------------------------------------------------- enumeration

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
    disk.displayName = NameWithSize("Disk # " + Decimal(diskNumber), diskBytes);
    disk.sizeText = Decimal(diskBytes);
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
      partition.displayName = NameWithSize(
          "Disk #" + Decimal(diskNumber) + ", Partition #" + Decimal(disk.partitionCount), bytes);
      partition.sizeText = Decimal(bytes);
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
    disk.partitionsText = Decimal(disk.partitionCount);
    lists.physicalDisks.push_back(std::move(disk));
  }
  return lists;
}

}  // namespace restorix
