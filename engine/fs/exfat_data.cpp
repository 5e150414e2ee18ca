#include "fs/exfat_data.h"

#include <algorithm>

#include "disk/volume.h"
#include "fs/fat_data.h"
#include "fs/item_reader.h"

namespace restorix {

namespace {

constexpr std::size_t kEntryBytes = 32;
constexpr std::uint64_t kMaxFolderBytes = 256ull << 20;
constexpr std::size_t kNameUnitsPerEntry = 15;
constexpr std::uint8_t kInUse = 0x80;
// Entry types with the in-use bit masked off.
constexpr std::uint8_t kFileEntry = 0x05;
constexpr std::uint8_t kStreamEntry = 0x40;
constexpr std::uint8_t kNameEntry = 0x41;
constexpr std::uint8_t kBitmapEntry = 0x81;  // in use, as the root always holds it
constexpr std::uint16_t kFolderAttribute = 0x10;
constexpr std::uint8_t kNoFatChain = 0x02;

// The set checksum over every byte of the set but the checksum itself, with
// the in-use bits set as they were when the set was written: deleting a set
// clears them and leaves the checksum as it was.
std::uint16_t SetChecksum(Bytes set) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (i == 2 || i == 3) continue;
    const std::uint8_t byte = i % kEntryBytes == 0 ? set[i] | kInUse : set[i];
    sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
  }
  return sum;
}

// The set at the start of `set` (file entry, stream, names), or nullopt.
std::optional<ExfatEntrySet> ParseSet(Bytes set) {
  const std::size_t secondaries = set[1];
  const Bytes stream = set.subspan(kEntryBytes, kEntryBytes);
  if ((stream[0] & ~kInUse) != kStreamEntry) return std::nullopt;
  const std::size_t nameLength = stream[3];
  const std::size_t nameEntries = (nameLength + kNameUnitsPerEntry - 1) / kNameUnitsPerEntry;
  if (nameLength == 0 || 1 + nameEntries > secondaries) return std::nullopt;
  ExfatEntrySet entry;
  for (std::size_t n = 0; n < nameEntries; ++n) {
    const Bytes name = set.subspan((2 + n) * kEntryBytes, kEntryBytes);
    if ((name[0] & ~kInUse) != kNameEntry) return std::nullopt;
    for (std::size_t i = 0; i < kNameUnitsPerEntry && entry.name.size() < nameLength; ++i)
      entry.name += static_cast<char16_t>(le16(name, 2 + 2 * i));
  }
  entry.deleted = (set[0] & kInUse) == 0;
  entry.folder = (le16(set, 4) & kFolderAttribute) != 0;
  entry.contiguous = (stream[1] & kNoFatChain) != 0;
  entry.size = le64(stream, 24);
  entry.validSize = le64(stream, 8);
  entry.firstCluster = le32(stream, 20);
  entry.created = le32(set, 8);
  entry.modified = le32(set, 12);
  entry.accessed = le32(set, 16);
  entry.created10ms = set[20];
  entry.modified10ms = set[21];
  entry.createdUtc = set[22];
  entry.modifiedUtc = set[23];
  entry.accessedUtc = set[24];
  return entry;
}

}  // namespace

std::vector<ExfatEntrySet> ParseExfatFolder(Bytes folder) {
  std::vector<ExfatEntrySet> sets;
  for (std::size_t o = 0; o + kEntryBytes <= folder.size();) {
    const std::uint8_t type = folder[o];
    if (type == 0) break;  // the end of the folder: nothing after it was ever used
    const std::size_t secondaries = folder[o + 1];
    const std::size_t length = (secondaries + 1) * kEntryBytes;
    if ((type & ~kInUse) != kFileEntry || secondaries < 2 || secondaries > 18 ||
        length > folder.size() - o) {
      o += kEntryBytes;
      continue;
    }
    const Bytes set = folder.subspan(o, length);
    std::optional<ExfatEntrySet> entry;
    if (SetChecksum(set) == le16(set, 2)) entry = ParseSet(set);
    if (!entry) {
      // Not a whole set: a newer, shorter one may have been written over
      // its start, so the entries after it are looked at one by one.
      o += kEntryBytes;
      continue;
    }
    entry->offset = o;
    sets.push_back(std::move(*entry));
    o += length;
  }
  return sets;
}

std::vector<std::uint8_t> ReadExfatFolder(const Volume& volume, std::uint32_t firstCluster,
                                          bool contiguous, std::optional<std::uint64_t> size) {
  std::vector<std::uint8_t> bytes;
  const std::uint32_t clusterBytes = volume.context().clusterBytes();
  if (clusterBytes == 0 || firstCluster < 2) return bytes;
  if (!size) {
    // The root folder: its FAT chain says how long it is.
    for (const std::uint32_t cell :
         BuildClusterChain(volume, firstCluster, kMaxFolderBytes / clusterBytes)) {
      const auto sector = FatClusterSector(volume.context(), cell);
      if (!sector) break;
      const std::size_t at = bytes.size();
      bytes.resize(at + clusterBytes);
      volume.ReadSectors(MutableBytes(bytes).subspan(at), *sector);
    }
    return bytes;
  }
  ItemNode node;
  node.size = std::min(*size, kMaxFolderBytes);
  node.location = FatChain{firstCluster, contiguous};
  ItemReader reader(volume, node);
  bytes.resize(static_cast<std::size_t>(reader.length()));
  bytes.resize(reader.read(0, bytes));
  return bytes;
}

ExfatBitmap ExfatBitmap::Load(const Volume& volume) {
  ExfatBitmap bitmap;
  const VolumeContext& c = volume.context();
  if (!c.isExfat()) return bitmap;
  const std::vector<std::uint8_t> root =
      ReadExfatFolder(volume, static_cast<std::uint32_t>(c.exfatRootCluster()), false, {});
  // Of the two bitmaps of a two-FAT volume (bit 0 of the entry's flags
  // names the FAT), the first is taken: such volumes keep both up to date.
  for (std::size_t o = 0; o + kEntryBytes <= root.size(); o += kEntryBytes) {
    const Bytes entry = Bytes(root).subspan(o, kEntryBytes);
    if (entry[0] == 0) break;
    if (entry[0] != kBitmapEntry || (entry[1] & 1) != 0) continue;
    const std::uint64_t clusters = c.fatEntryCount() - 1;
    ItemNode node;
    node.size = std::min(le64(entry, 24), (clusters + 7) / 8);
    node.location = FatChain{le32(entry, 20), false};
    ItemReader reader(volume, node);
    bitmap.bits_.resize(static_cast<std::size_t>(reader.length()));
    bitmap.bits_.resize(reader.read(0, bitmap.bits_));
    break;
  }
  return bitmap;
}

std::optional<bool> ExfatBitmap::InUse(std::uint32_t cluster) const {
  if (cluster < 2) return std::nullopt;
  const std::uint64_t bit = std::uint64_t{cluster} - 2;
  if (bit / 8 >= bits_.size()) return std::nullopt;
  return (bits_[bit / 8] >> (bit % 8) & 1) != 0;
}

}  // namespace restorix
