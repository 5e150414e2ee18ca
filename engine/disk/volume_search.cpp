#include "disk/volume_search.h"

#include <algorithm>
#include <array>
#include <optional>

#include "disk/mount.h"
#include "disk/read_ahead.h"
#include "disk/volume.h"
#include "fs/ntfs_record.h"
#include "util/text.h"

namespace restorix {

namespace {

constexpr std::size_t kBootBytes = 512;
// Large enough that the disk, not the calls, sets the pace.
constexpr std::size_t kPieceBytes = std::size_t{4} << 20;
constexpr unsigned kPiecesAhead = 4;

bool HasBootSignature(Bytes sector) {
  return u8(sector, 510) == 0x55 && u8(sector, 511) == 0xAA;
}

// The byte at `offset` of the volume starting at byte `start`; nullopt when
// a forged value overflows.
std::optional<std::uint64_t> At(std::uint64_t start, std::uint64_t sectors,
                                std::uint16_t bytesPerSector) {
  const auto offset = CheckedMul(sectors, bytesPerSector);
  return offset ? CheckedAdd(start, *offset) : std::nullopt;
}

// ---- FAT16 and FAT32 ----

std::uint64_t FatBackup(Bytes boot) {
  return le16(boot, 0x32);
}

std::uint64_t FatBytes(Bytes boot) {
  const std::optional<VolumeContext> context = RecogniseVolume(boot);
  return context ? context->totalSectors() * context->bytesPerSector() : 0;
}

// The root folder's first sector: entries that are free, deleted, long-name
// pieces or short entries with plain names and attributes. A folder of
// random bytes fails at once. Sets the label from a volume-label entry.
bool RootEntriesSane(Bytes sector, std::uint64_t clusterLimit, std::u16string& label) {
  for (std::size_t at = 0; at + 32 <= sector.size(); at += 32) {
    const Bytes entry = Slice(sector, at, 32);
    const std::uint8_t first = u8(entry, 0);
    if (first == 0x00) return true;  // the end of the folder
    if (first == 0xE5) continue;
    const std::uint8_t attributes = u8(entry, 0x0B);
    if (attributes == 0x0F) {
      const std::uint8_t order = first & 0x3F;
      if (order == 0 || order > 20 || le16(entry, 0x1A) != 0) return false;
      continue;
    }
    if ((attributes & 0xC0) != 0) return false;
    for (std::size_t i = 0; i < 11; ++i) {
      const std::uint8_t c = u8(entry, i);
      if (c < 0x20 && !(i == 0 && c == 0x05)) return false;
    }
    const std::uint32_t cluster = (std::uint32_t{le16(entry, 0x14)} << 16) | le16(entry, 0x1A);
    if (cluster >= clusterLimit) return false;
    if ((attributes & 0x1F) == 0x08 && label.empty()) {
      std::string text(reinterpret_cast<const char*>(entry.data()), 11);
      text.erase(text.find_last_not_of(' ') + 1);
      label = Widen(text);
    }
  }
  return true;
}

// The label of the boot sector's extended parameter block, unless it is
// the placeholder that a volume without a label carries.
std::u16string BootLabel(Bytes boot, std::size_t signatureAt) {
  if (u8(boot, signatureAt) != 0x29) return {};
  const Bytes field = Slice(boot, signatureAt + 5, 11);
  std::string text(reinterpret_cast<const char*>(field.data()), field.size());
  text.erase(text.find_last_not_of(' ') + 1);
  if (text == "NO NAME" || text.find('\0') != std::string::npos) return {};
  return Widen(text);
}

// Each copy of the FAT starts with the media byte, then all ones; the root
// folder is where the boot sector puts it, and it reads as a folder.
bool VerifyFat(const Volume& disk, std::uint64_t start, Bytes boot, std::u16string& label) {
  const std::optional<VolumeContext> recognised = RecogniseVolume(boot);
  if (!recognised) return false;
  const VolumeContext& c = *recognised;
  const bool fat32 = c.fsType() == FsType::Fat32;
  const std::uint16_t sectorBytes = c.bytesPerSector();
  const std::uint8_t media = u8(boot, 0x15);
  std::vector<std::uint8_t> sector(sectorBytes);
  for (const std::uint64_t fat : {c.fatStart(), c.fat2Start()}) {
    const auto at = At(start, fat, sectorBytes);
    if (!at) return false;
    ReadDiskBytes(disk, *at, sector);
    const std::uint32_t ones = fat32 ? 0x0FFFFF00 : 0xFF00;
    const std::uint32_t first = fat32 ? le32(sector, 0) & 0x0FFFFFFF : le16(sector, 0);
    if (first != (ones | media)) return false;
  }
  if (c.totalSectors() <= c.dataStart() || c.sectorsPerCluster() == 0) return false;
  const std::uint64_t rootSectors = fat32 ? 0 : std::uint64_t{le16(boot, 0x11)} * 32 / sectorBytes;
  if (c.totalSectors() <= c.dataStart() + rootSectors) return false;
  const std::uint64_t clusterLimit =
      (c.totalSectors() - c.dataStart() - rootSectors) / c.sectorsPerCluster() + 2;

  std::uint64_t rootSector = c.dataStart();  // FAT16: the fixed root folder
  if (fat32) {
    // The root cluster is in use in the FAT, and lies inside the volume.
    const std::uint32_t root = le32(boot, 0x2C);
    if (root < 2 || root >= clusterLimit) return false;
    const std::uint64_t entrySector = c.fatStart() + std::uint64_t{root} * 4 / sectorBytes;
    const auto entryAt = At(start, entrySector, sectorBytes);
    if (!entryAt) return false;
    ReadDiskBytes(disk, *entryAt, sector);
    const std::uint32_t next = le32(sector, std::uint64_t{root} * 4 % sectorBytes) & 0x0FFFFFFF;
    if (next < 2 || next == 0x0FFFFFF7) return false;
    rootSector = c.dataStart() + std::uint64_t{root - 2} * c.sectorsPerCluster();
  }
  const auto rootAt = At(start, rootSector, sectorBytes);
  if (!rootAt) return false;
  ReadDiskBytes(disk, *rootAt, sector);
  if (!RootEntriesSane(sector, clusterLimit, label)) return false;
  if (label.empty()) label = BootLabel(boot, fat32 ? 0x42 : 0x26);
  return true;
}

// ---- NTFS ----

std::uint64_t NtfsBackup(Bytes boot) {
  return le64(boot, 0x28);
}

// The volume and the backup boot sector after it.
std::uint64_t NtfsBytes(Bytes boot) {
  const auto sectors = CheckedAdd(le64(boot, 0x28), 1);
  const auto bytes = sectors ? CheckedMul(*sectors, le16(boot, 0x0B)) : std::nullopt;
  return bytes.value_or(0);
}

constexpr std::uint32_t ATTR_VOLUME_NAME = 0x60;

std::u16string NtfsLabel(Bytes volumeRecord) {
  AttributeWalk walk(volumeRecord, FirstAttributeOffset(volumeRecord));
  while (const auto attribute = walk.Next()) {
    if (attribute->type() == ATTR_VOLUME_NAME && !attribute->nonResident())
      return Utf16FromLittleEndian(attribute->value());
  }
  return {};
}

// MFT record 0 (or its mirror) is an intact FILE record where the boot
// sector says; record 3, $Volume, gives the label.
bool VerifyNtfs(const Volume& disk, std::uint64_t start, Bytes boot, std::u16string& label) {
  const std::optional<VolumeContext> recognised = RecogniseVolume(boot);
  if (!recognised) return false;
  const VolumeContext& c = *recognised;
  std::vector<std::uint8_t> record(c.mftRecordBytes());
  for (const std::uint64_t cluster : {c.mftCluster(), c.mftMirrorCluster()}) {
    const auto sector = CheckedMul(cluster, c.sectorsPerCluster());
    const auto at = sector ? At(start, *sector, c.bytesPerSector()) : std::nullopt;
    if (!at) continue;
    ReadDiskBytes(disk, *at, record);
    if (!CheckMftRecord(record, c)) continue;
    const auto volumeAt = CheckedAdd(*at, std::uint64_t{3} * record.size());
    if (volumeAt) {
      ReadDiskBytes(disk, *volumeAt, record);
      if (CheckMftRecord(record, c)) label = NtfsLabel(record);
    }
    return true;
  }
  return false;
}

const std::array<BootRecogniser, 3> kRecognisers{{
    {FsType::Ntfs, LooksLikeNtfs, NtfsBackup, NtfsBytes, VerifyNtfs},
    {FsType::Fat32, LooksLikeFat32, FatBackup, FatBytes, VerifyFat},
    {FsType::Fat16, LooksLikeFat16, [](Bytes) -> std::uint64_t { return 0; }, FatBytes, VerifyFat},
}};

}  // namespace

std::span<const BootRecogniser> BootRecognisers() {
  return kRecognisers;
}

void ReadDiskBytes(const Volume& disk, std::uint64_t offset, MutableBytes buffer) {
  const std::uint16_t sectorBytes = disk.context().bytesPerSector();
  if (sectorBytes == 0) {
    std::fill(buffer.begin(), buffer.end(), 0);
    return;
  }
  const std::uint64_t lead = offset % sectorBytes;
  if (lead == 0 && buffer.size() % sectorBytes == 0) {
    disk.ReadSectors(buffer, offset / sectorBytes);
    return;
  }
  // Reads whole sectors around a span that does not start or end on one.
  const std::size_t whole = (lead + buffer.size() + sectorBytes - 1) / sectorBytes * sectorBytes;
  std::vector<std::uint8_t> sectors(whole);
  disk.ReadSectors(sectors, offset / sectorBytes);
  std::copy_n(sectors.begin() + static_cast<std::ptrdiff_t>(lead), buffer.size(), buffer.begin());
}

void TryBootSector(const Volume& disk, std::uint64_t position, Bytes sector, SearchState& state) {
  for (const BootRecogniser& recogniser : kRecognisers) {
    if (!recogniser.looks(sector)) continue;
    const std::uint64_t volumeBytes = recogniser.volumeBytes(sector);
    if (volumeBytes < kSearchUnit) continue;
    // The sector is the volume's own boot sector, or the backup of one that
    // starts that many sectors before it.
    std::array<std::optional<std::uint64_t>, 2> starts{position};
    if (const std::uint64_t backup = recogniser.backupSector(sector); backup != 0) {
      const auto distance = CheckedMul(backup, le16(sector, 0x0B));
      if (distance && *distance <= position) starts[1] = position - *distance;
    }
    for (const auto& start : starts) {
      if (!start || *start % kSearchUnit != 0) continue;
      const bool primary = *start == position;
      const SearchState::Key key{*start / kSearchUnit, recogniser.fsType};
      if (const auto known = state.found.find(key); known != state.found.end()) {
        (primary ? known->second.primaryBoot : known->second.backupBoot) = true;
        continue;
      }
      if (state.refuted.contains(key)) continue;
      FoundVolume volume;
      if (!recogniser.verify(disk, *start, sector, volume.label)) {
        state.refuted.insert(key);
        continue;
      }
      volume.start = key.first;
      volume.sectors = volumeBytes / kSearchUnit;
      volume.fsType = recogniser.fsType;
      volume.primaryBoot = primary;
      volume.backupBoot = !primary;
      state.found.emplace(key, std::move(volume));
    }
  }
}

std::vector<FoundVolume> SearchVolumes(const Volume& disk, TaskControl task) {
  const VolumeContext& context = disk.context();
  const std::uint16_t sectorBytes = context.bytesPerSector();
  const std::uint64_t total = context.totalSectors();
  SearchState state;
  if (sectorBytes == 0 || total == 0) return {};
  const std::uint64_t pieceSectors =
      std::min<std::uint64_t>(std::max<std::uint64_t>(kPieceBytes / sectorBytes, 1), total);
  ReadAhead ahead(
      disk, task.stop,
      [next = std::uint64_t{0}, total, pieceSectors,
       sectorBytes]() mutable -> std::optional<ReadAhead::Piece> {
        if (next >= total) return std::nullopt;
        const std::uint64_t count = std::min(pieceSectors, total - next);
        const ReadAhead::Piece piece{next, static_cast<std::size_t>(count * sectorBytes), 0};
        next += count;
        return piece;
      },
      static_cast<std::size_t>(pieceSectors * sectorBytes), kPiecesAhead);
  while (task.running()) {
    const std::optional<ReadAhead::Read> read = ahead.Next();
    if (!read) break;
    const std::uint64_t first = read->piece.sector * sectorBytes;
    for (std::size_t at = 0; at + kBootBytes <= read->bytes.size(); at += kBootBytes) {
      const Bytes sector = Bytes(read->bytes).subspan(at, kBootBytes);
      if (HasBootSignature(sector)) TryBootSector(disk, first + at, sector, state);
    }
    task.events.ScanProgress(read->piece.sector + read->piece.bytes / sectorBytes, total);
  }
  std::vector<FoundVolume> found;
  for (auto& [key, volume] : state.found)
    found.push_back(std::move(volume));
  return found;
}

void MarkPartitions(std::vector<FoundVolume>& volumes, const PartitionList& table) {
  for (FoundVolume& volume : volumes) {
    volume.partition = 0;
    for (const PartitionEntry& entry : table.entries) {
      if (entry.start == volume.start && entry.length != 0) volume.partition = entry.number;
    }
  }
}

}  // namespace restorix
