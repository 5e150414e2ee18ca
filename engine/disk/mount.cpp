#include "disk/mount.h"

#include <algorithm>
#include <array>
#include <vector>

#include "disk/volume.h"
#include "fs/attribute_list.h"

namespace restorix {

namespace {

constexpr std::size_t kBootSectorBytes = 512;
// No real MFT record is larger than 4 KiB; a bound keeps a forged boot sector
// from making every record buffer huge.
constexpr std::uint32_t kMaxRecordBytes = 64 * 1024;

// Also the size check every test below relies on: a boot sector is 512 bytes.
bool HasJump(Bytes b) {
  return b.size() >= kBootSectorBytes && b[0] != 0 && b[1] != 0 && b[2] == 0x90;
}

// Nonzero and either 1 or even. Counts of sectors per cluster beyond 128 are
// not real (Windows writes 0xF4 for 2 MiB clusters, a size this byte cannot
// count), so they fail too.
bool ClusterCountByteOk(std::uint8_t b) {
  return b != 0 && (b == 1 || b % 2 == 0);
}
bool SectorsPerClusterOk(std::uint8_t b) {
  return ClusterCountByteOk(b) && b <= 128;
}

// A multiple of 512 that is not 0: every later step multiplies or divides by it.
bool SectorSizeOk(std::uint16_t bytesPerSector) {
  return bytesPerSector != 0 && bytesPerSector % 512 == 0;
}

// The FAT16 volume's sectors: the 16-bit total at 0x13 when it is nonzero
// (every volume under 65,536 sectors), else the 32-bit total at 0x20.
std::uint32_t Fat16TotalSectors(Bytes b) {
  const std::uint16_t total16 = le16(b, 0x13);
  return total16 != 0 ? total16 : le32(b, 0x20);
}

// FAT12 is told from FAT16 by its cluster count alone: below 4085 the FAT
// holds 12-bit entries, which this system does not read. Needs a usable
// sector size and sectors per cluster.
bool HasFat16ClusterCount(Bytes b) {
  constexpr std::uint64_t kMinFat16Clusters = 4085;
  const std::uint64_t rootSectors = 512 * 32 / le16(b, 0x0B);
  const std::uint64_t overhead =
      std::uint64_t{le16(b, 0x0E)} + 2 * std::uint64_t{le16(b, 0x16)} + rootSectors;
  const std::uint64_t total = Fat16TotalSectors(b);
  return total > overhead && (total - overhead) / u8(b, 0x0D) >= kMinFat16Clusters;
}

// The volume serial number of a FAT boot sector's extended parameter block
// (signature 0x29 before it), or 0 where it has none. It tells two volumes
// of the same geometry apart, so that a saved scan is never recovered from
// the wrong one.
std::uint32_t FatSerial(Bytes b, std::size_t signatureAt) {
  return u8(b, signatureAt) == 0x29 ? le32(b, signatureAt + 1) : 0;
}

bool Usable64(std::uint64_t v) {
  return v != 0 && v != ~std::uint64_t{0};
}

// Reads one MFT record at `sector` into `record` and checks it.
bool ReadMftRecord(const Volume& volume, std::optional<std::uint64_t> sector,
                   std::vector<std::uint8_t>& record) {
  std::fill(record.begin(), record.end(), 0);
  if (!sector) return false;
  volume.ReadSectors(record, *sector);
  return CheckMftRecord(record, volume.context());
}

// Follows the $DATA entries of the MFT's attribute list into the records
// that hold them and collects their runs.
void CollectListedRuns(const Volume& volume, const std::vector<AttributeListEntry>& entries,
                       std::vector<std::uint8_t>& record, MftLocation& mft) {
  const VolumeContext& context = volume.context();
  const auto mftStart = ClusterSector(context, context.mftCluster());
  std::uint64_t records = 0;
  for (const AttributeListEntry& entry : entries) {
    std::optional<std::uint64_t> sector;
    if (mftStart) {
      const std::uint64_t within = std::uint64_t{entry.recordNumber} * context.mftRecordSectors();
      sector = CheckedAdd(*mftStart, within);
    }
    if (!ReadMftRecord(volume, sector, record)) continue;
    AttributeWalk walk(record, FirstAttributeOffset(record));
    while (const auto attribute = walk.Next()) {
      if (attribute->type() != entry.type || attribute->id() != entry.attributeId) continue;
      if (!attribute->nonResident()) break;
      DecodeRunList(attribute->bytes(), attribute->runListOffset(), mft.runs);
      records += MftRecordsIn(attribute->lastVcn() - attribute->firstVcn() + 1, context);
      break;
    }
  }
  mft.recordCount = static_cast<std::uint32_t>(records);
}

}  // namespace

bool LooksLikeFat16(Bytes b) {
  // A volume under 65,536 sectors gives its size in the 16-bit total alone.
  const bool sized = le16(b, 0x13) != 0 || le16(b, 0x22) != 0;
  return HasJump(b) && sized && le32(b, 0x39) != 0 && SectorSizeOk(le16(b, 0x0B)) && b[0x10] == 2 &&
         SectorsPerClusterOk(b[0x0D]) && le16(b, 0x11) == 512 && le16(b, 0x0E) != 0 &&
         HasFat16ClusterCount(b);
}

bool LooksLikeFat32(Bytes b) {
  return HasJump(b) && SectorSizeOk(le16(b, 0x0B)) && b[0x10] == 2 &&
         SectorsPerClusterOk(b[0x0D]) && le32(b, 0x2C) == 2 && le16(b, 0x32) == 6 &&
         le16(b, 0x30) == 1;
}

bool LooksLikeExfat(Bytes b) {
  static constexpr char kName[] = "EXFAT   ";
  if (b.size() < kBootSectorBytes || b[0] != 0xEB || b[1] != 0x76 || b[2] != 0x90 ||
      !std::equal(kName, kName + 8, b.begin() + 3) || le16(b, 0x1FE) != 0xAA55) {
    return false;
  }
  // Where FAT keeps its parameter block, exFAT must be zero: no FAT driver
  // takes the volume for its own.
  if (std::any_of(b.begin() + 0x0B, b.begin() + 0x40, [](std::uint8_t x) { return x != 0; }))
    return false;
  const std::uint8_t sectorShift = b[0x6C];
  const std::uint8_t clusterShift = b[0x6D];
  const std::uint8_t fats = b[0x6E];
  const std::uint64_t fatOffset = le32(b, 0x50);
  const std::uint64_t fatLength = le32(b, 0x54);
  const std::uint64_t heapOffset = le32(b, 0x58);
  const std::uint64_t clusters = le32(b, 0x5C);
  const std::uint32_t root = le32(b, 0x60);
  // Sectors of 512 bytes to 4 KiB, clusters of at most 32 MiB, the FATs
  // after the boot regions and before the cluster heap, and a FAT with an
  // entry for every cluster.
  return sectorShift >= 9 && sectorShift <= 12 && clusterShift <= 25 - sectorShift &&
         (fats == 1 || fats == 2) && fatOffset >= 24 && fatLength != 0 &&
         heapOffset >= fatOffset + fatLength * fats && clusters != 0 && clusters <= 0xFFFFFFF5 &&
         clusters + 2 <= (fatLength << sectorShift) / 4 && root >= 2 && root <= clusters + 1;
}

bool ExfatBootRegionOk(Bytes region, std::uint32_t sectorBytes) {
  if (sectorBytes == 0 || region.size() < std::size_t{12} * sectorBytes) return false;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < std::size_t{11} * sectorBytes; ++i) {
    // The volume flags and the share in use change without a new checksum.
    if (i == 0x6A || i == 0x6B || i == 0x70) continue;
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region[i];
  }
  const Bytes stored = region.subspan(std::size_t{11} * sectorBytes, sectorBytes);
  for (std::size_t o = 0; o + 4 <= stored.size(); o += 4)
    if (le32(stored, o) != sum) return false;
  return true;
}

std::optional<VolumeContext> ReadExfatBootRegion(const VolumeBytesReader& read,
                                                 std::uint64_t firstSector,
                                                 std::uint32_t sectorBytes) {
  std::vector<std::uint8_t> region(kExfatRegionSectors * sectorBytes);
  read(firstSector * sectorBytes, region);
  const Bytes boot = Bytes(region).first(kBootSectorBytes);
  if (!LooksLikeExfat(boot) || (1u << boot[0x6C]) != sectorBytes) return std::nullopt;
  // The cluster heap ends inside the volume.
  const std::uint64_t heapEnd =
      std::uint64_t{le32(boot, 0x58)} + (std::uint64_t{le32(boot, 0x5C)} << boot[0x6D]);
  if (le64(boot, 0x48) < heapEnd || !ExfatBootRegionOk(region, sectorBytes)) return std::nullopt;
  return RecogniseVolume(boot);
}

bool ExfatRootFolderOk(const VolumeBytesReader& read, const VolumeContext& context,
                       std::u16string& label) {
  constexpr std::size_t kEntryBytes = 32;
  constexpr std::uint8_t kBitmap = 0x81, kUpCase = 0x82, kLabel = 0x83;
  // The root's first entries are these; one sector's worth holds them.
  const std::uint64_t clusters = context.fatEntryCount() - 1;
  const std::uint64_t root = context.exfatRootCluster();
  if (root < 2 || root > clusters + 1) return false;
  const std::uint64_t sector = context.dataStart() + ((root - 2) << context.exfatClusterShift());
  std::vector<std::uint8_t> first(context.bytesPerSector());
  read(sector * context.bytesPerSector(), first);
  const auto inHeap = [&](Bytes entry) {
    const std::uint32_t cluster = le32(entry, 20);
    return cluster >= 2 && cluster <= clusters + 1 && le64(entry, 24) != 0;
  };
  bool bitmap = false, upCase = false;
  std::u16string name;
  for (std::size_t at = 0; at + kEntryBytes <= first.size(); at += kEntryBytes) {
    const Bytes entry = Bytes(first).subspan(at, kEntryBytes);
    if (entry[0] == 0) break;
    if (entry[0] == kBitmap) bitmap = bitmap || inHeap(entry);
    if (entry[0] == kUpCase) upCase = upCase || inHeap(entry);
    if (entry[0] == kLabel && entry[1] <= 11 && name.empty()) {
      for (std::size_t i = 0; i < entry[1]; ++i)
        name.push_back(static_cast<char16_t>(le16(entry, 2 + 2 * i)));
    }
  }
  if (!bitmap || !upCase) return false;
  label = std::move(name);
  return true;
}

bool LooksLikeNtfs(Bytes b) {
  const std::uint16_t bytesPerSector = le16(b, 0x0B);
  if (!(HasJump(b) && le32(b, 0x20) == 0 && le16(b, 0x24) == 0x0080 &&
        SectorSizeOk(bytesPerSector) && SectorsPerClusterOk(b[0x0D]) &&
        ClusterCountByteOk(b[0x40]) && ClusterCountByteOk(b[0x44]) && Usable64(le64(b, 0x30)) &&
        Usable64(le64(b, 0x38)) && Usable64(le64(b, 0x28)))) {
    return false;
  }
  // Later steps divide by the sectors per MFT record and size buffers by it.
  const std::uint8_t recordSectors =
      RecordSectors(static_cast<std::int8_t>(b[0x40]), b[0x0D], bytesPerSector);
  return recordSectors != 0 && std::uint32_t{recordSectors} * bytesPerSector <= kMaxRecordBytes;
}

std::uint8_t RecordSectors(std::int8_t encoded, std::uint8_t sectorsPerCluster,
                           std::uint16_t bytesPerSector) {
  if (encoded >= 0) return static_cast<std::uint8_t>(encoded * sectorsPerCluster);
  const int shift = -encoded;
  if (shift >= 32 || bytesPerSector == 0) return 0;
  // Record sizes count in the volume's own sectors, whatever their size.
  const std::uint64_t sectors = (std::uint64_t{1} << shift) / bytesPerSector;
  return sectors > 0xFF ? 0 : static_cast<std::uint8_t>(sectors);
}

// The entries a FAT of `fatSectors` sectors holds: the highest cluster number
// an entry may name. Entries count in the volume's own sectors, whatever
// their size.
std::uint32_t FatEntries(std::uint64_t fatSectors, std::uint16_t bytesPerSector,
                         std::uint32_t entryBytes) {
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(fatSectors * (bytesPerSector / entryBytes), 0xFFFFFFFF));
}

std::optional<VolumeContext> RecogniseVolume(Bytes boot) {
  VolumeContext context;
  const std::uint16_t bytesPerSector = le16(boot, 0x0B);
  const std::uint8_t sectorsPerCluster = u8(boot, 0x0D);
  if (LooksLikeFat16(boot)) {
    const std::uint16_t fatSectors = le16(boot, 0x16);
    context.setFsType(FsType::Fat16);
    context.setFatKind(1);
    context.setFatSectors(fatSectors);
    context.setFatEntryCount(FatEntries(fatSectors, bytesPerSector, 2));
    context.setTotalSectors(Fat16TotalSectors(boot));
    context.setVolumeSerial(FatSerial(boot, 0x26));
    context.setFatStart(le16(boot, 0x0E));
    context.setFat2Start(context.fatStart() + fatSectors);
    context.setDataStart(context.fat2Start() + fatSectors);
  } else if (LooksLikeFat32(boot)) {
    const std::uint32_t fatSectors = le32(boot, 0x24);
    context.setFsType(FsType::Fat32);
    context.setFatKind(2);
    context.setFatSectors(static_cast<std::uint16_t>(fatSectors));
    context.setFatEntryCount(FatEntries(fatSectors, bytesPerSector, 4));
    context.setTotalSectors(le32(boot, 0x20));
    context.setVolumeSerial(FatSerial(boot, 0x42));
    context.setFatStart(le16(boot, 0x0E));
    context.setFat2Start(context.fatStart() + fatSectors);
    context.setDataStart(context.fat2Start() + fatSectors);
  } else if (LooksLikeExfat(boot)) {
    const std::uint8_t sectorShift = u8(boot, 0x6C);
    const std::uint8_t clusterShift = u8(boot, 0x6D);
    const std::uint32_t fatLength = le32(boot, 0x54);
    // The second FAT of a two-FAT volume is the one in use when bit 0 of
    // the volume flags says so.
    const bool secondFat = u8(boot, 0x6E) == 2 && (le16(boot, 0x6A) & 1) != 0;
    context.setFsType(FsType::Exfat);
    context.setTotalSectors(le64(boot, 0x48));
    context.setVolumeSerial(le32(boot, 0x64));
    context.setFatStart(std::uint64_t{le32(boot, 0x50)} + (secondFat ? fatLength : 0));
    context.setFatSectors(static_cast<std::uint16_t>(fatLength));
    context.setDataStart(le32(boot, 0x58));
    context.setFatEntryCount(le32(boot, 0x5C) + 1);
    context.setExfatRootCluster(le32(boot, 0x60));
    context.setExfatClusterShift(clusterShift);
    context.setBytesPerSector(static_cast<std::uint16_t>(1u << sectorShift));
    context.setSectorsPerCluster(clusterShift <= 7 ? static_cast<std::uint8_t>(1u << clusterShift)
                                                   : 0);
    return context;
  } else if (LooksLikeNtfs(boot)) {
    context.setFsType(FsType::Ntfs);
    context.setTotalSectors(le64(boot, 0x28));
    context.setMftCluster(le64(boot, 0x30));
    context.setMftMirrorCluster(le64(boot, 0x38));
    context.setVolumeSerial(le64(boot, 0x48));
    context.setIndexRecordSectors(
        RecordSectors(static_cast<std::int8_t>(u8(boot, 0x44)), sectorsPerCluster, bytesPerSector));
    context.setMftRecordSectors(
        RecordSectors(static_cast<std::int8_t>(u8(boot, 0x40)), sectorsPerCluster, bytesPerSector));
  } else {
    return std::nullopt;
  }
  context.setBytesPerSector(bytesPerSector);
  context.setSectorsPerCluster(sectorsPerCluster);
  return context;
}

std::optional<MftLocation> LocateMft(const Volume& volume) {
  const VolumeContext& context = volume.context();
  if (context.mftRecordSectors() == 0) return std::nullopt;

  std::vector<std::uint8_t> record(context.mftRecordBytes());
  if (!ReadMftRecord(volume, ClusterSector(context, context.mftCluster()), record) &&
      !ReadMftRecord(volume, ClusterSector(context, context.mftMirrorCluster()), record)) {
    return std::nullopt;
  }

  AttributeWalk walk(record, FirstAttributeOffset(record));
  const auto first = walk.Next();
  const auto second = first ? walk.Next() : std::nullopt;
  if (!second) return std::nullopt;

  MftLocation mft;
  if (second->type() != ATTR_ATTRIBUTE_LIST) {
    for (auto attribute = second; attribute; attribute = walk.Next()) {
      const std::uint32_t type = attribute->type();
      if (type == 0 || type > ATTR_DATA) break;
      if (type != ATTR_DATA) continue;
      if (!attribute->nonResident()) break;
      mft.recordCount = static_cast<std::uint32_t>(MftRecordsIn(
          static_cast<std::uint32_t>(attribute->lastVcn()) + std::uint64_t{1}, context));
      DecodeRunList(attribute->bytes(), attribute->runListOffset(), mft.runs);
      break;
    }
  } else {
    CollectListedRuns(volume, DataEntries(ReadAttributeList(volume, *second)), record, mft);
  }
  if (mft.runs.empty()) return std::nullopt;
  return mft;
}

}  // namespace restorix
