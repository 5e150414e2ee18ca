#include "fs/recoverability.h"

#include <algorithm>

#include "catalogue/stale_check.h"
#include "disk/volume.h"
#include "fs/exfat_data.h"
#include "fs/fat_data.h"
#include "fs/item_reader.h"
#include "fs/ntfs_record.h"
#include "fs/ntfs_scan.h"

namespace restorix {

namespace {

constexpr std::uint32_t kNtfsBitmapRecord = 6;

std::optional<bool> Bit(const std::vector<std::uint8_t>& bits, std::uint64_t index) {
  if (index / 8 >= bits.size()) return std::nullopt;
  return (bits[index / 8] >> (index % 8) & 1) != 0;
}

// The NTFS $Bitmap: the unnamed $DATA of MFT record 6, read along its runs,
// at most one bit for each cluster of the volume.
std::vector<std::uint8_t> ReadNtfsBitmap(const Volume& volume) {
  std::vector<std::uint8_t> bits;
  const VolumeContext& c = volume.context();
  const auto sector = MftRecordSector(volume, kNtfsBitmapRecord);
  std::vector<std::uint8_t> record(c.mftRecordBytes());
  if (!sector || record.empty() || c.clusterBytes() == 0) return bits;
  volume.ReadSectors(record, *sector);
  if (!CheckMftRecord(record, c)) return bits;
  std::vector<RunNode> runs;
  std::uint64_t size = 0;
  for (AttributeWalk walk(record, FirstAttributeOffset(record)); auto a = walk.Next();) {
    if (a->type() == ATTR_DATA && a->nonResident() && a->firstVcn() == 0) {
      DecodeRunList(a->bytes(), a->runListOffset(), runs);
      size = a->dataSize();
      break;
    }
  }
  const std::uint64_t clusters = c.totalSectors() / c.clusterSectors() + 1;
  size = std::min(size, (clusters + 7) / 8);
  std::vector<std::uint8_t> chunk;
  for (const RunNode& run : runs) {
    if (bits.size() >= size) break;
    const std::uint64_t left = size - bits.size();
    const auto runBytes = CheckedMul(run.clusterCount, c.clusterBytes());
    const std::uint64_t take = std::min(left, runBytes.value_or(left));
    const auto at = run.startCluster != 0 ? ClusterSector(c, run.startCluster) : std::nullopt;
    chunk.assign((take + c.bytesPerSector() - 1) / c.bytesPerSector() * c.bytesPerSector(), 0);
    if (at) volume.ReadSectors(chunk, *at);
    bits.insert(bits.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(take));
  }
  return bits;
}

}  // namespace

const char* RecoverableName(Recoverable state) {
  switch (state) {
    case Recoverable::Intact:
      return "intact";
    case Recoverable::Partial:
      return "partial";
    case Recoverable::Overwritten:
      return "overwritten";
    case Recoverable::Unknown:
      break;
  }
  return nullptr;
}

AllocationMap::AllocationMap(const Volume& volume) : volume_(volume) {
  const VolumeContext& c = volume.context();
  if (c.fsType() == FsType::Ntfs) {
    bits_ = ReadNtfsBitmap(volume);
  } else if (c.isExfat()) {
    bits_ = ExfatBitmap::Load(volume).bits();
    firstBitCluster_ = 2;  // the exFAT bitmap's first bit is cluster 2
  }
}

std::optional<bool> AllocationMap::ClusterInUse(std::uint64_t cluster) {
  if (cluster < firstBitCluster_) return std::nullopt;
  return Bit(bits_, cluster - firstBitCluster_);
}

std::optional<bool> AllocationMap::SectorInUse(std::uint64_t sector) {
  const VolumeContext& c = volume_.context();
  const std::uint64_t clusterSectors = c.clusterSectors();
  if (clusterSectors == 0) return std::nullopt;
  if (c.fsType() == FsType::Ntfs) {
    if (sector < c.firstSector()) return std::nullopt;
    return ClusterInUse((sector - c.firstSector()) / clusterSectors);
  }
  if (c.fsType() == FsType::None) return std::nullopt;
  const auto first = FatClusterSector(c, 2);
  if (!first || sector < *first) return std::nullopt;
  const std::uint64_t cluster = 2 + (sector - *first) / clusterSectors;
  if (cluster > c.fatEntryCount()) return std::nullopt;
  if (c.isExfat()) return ClusterInUse(cluster);

  // FAT: a nonzero entry in the first FAT, read a sector at a time.
  const std::uint32_t entryBytes = c.fsType() == FsType::Fat16 ? 2 : 4;
  const std::uint32_t perSector = c.bytesPerSector() / entryBytes;
  if (perSector == 0) return std::nullopt;
  const auto wanted = CheckedAdd(c.fatStart(), cluster / perSector);
  if (!wanted) return std::nullopt;
  if (*wanted != fatSectorAt_) {
    fatSector_.assign(c.bytesPerSector(), 0);
    volume_.ReadSectors(fatSector_, *wanted);
    fatSectorAt_ = *wanted;
  }
  const std::size_t at = std::size_t{cluster % perSector} * entryBytes;
  const std::uint32_t entry =
      entryBytes == 2 ? le16(fatSector_, at) : le32(fatSector_, at) & 0x0FFFFFFF;
  return entry != 0;
}

Recoverability AssessItem(const Volume& volume, const ItemNode& item, const ItemReader& reader,
                          AllocationMap& allocation) {
  if (item.isFolder() || item.isLive()) return {};
  if (item.isCarved()) return {Recoverable::Intact, 100};

  const VolumeContext& c = volume.context();
  std::uint64_t clusters = 0, known = 0, taken = 0;
  const auto count = [&](std::optional<bool> inUse) {
    ++clusters;
    known += inUse.has_value();
    taken += inUse.value_or(false);
  };
  const std::uint64_t clusterBytes = c.clusterBytes();
  for (const StreamSegment& segment : reader.map().segments) {
    if (segment.kind == StreamSegment::Kind::Sectors && clusterBytes != 0) {
      const std::uint64_t n = (segment.length + clusterBytes - 1) / clusterBytes;
      for (std::uint64_t i = 0; i < n; ++i) {
        const auto sector = CheckedAdd(segment.sector, i * c.clusterSectors());
        count(sector ? allocation.SectorInUse(*sector) : std::nullopt);
      }
    } else if (segment.kind == StreamSegment::Kind::Unit) {
      for (const RunNode& run : segment.stored) {
        for (std::uint64_t i = 0; run.startCluster != 0 && i < run.clusterCount; ++i)
          count(allocation.ClusterInUse(run.startCluster + i));
      }
    }
  }
  if (clusters == 0) return {Recoverable::Intact, 100};
  if (known == 0) return {};
  const std::uint64_t free = known - taken;
  if (taken == 0) return {Recoverable::Intact, 100};
  if (free == 0) return {Recoverable::Overwritten, 0};
  // Some of each: never shown as 0% or 100%.
  const auto percent =
      static_cast<std::uint8_t>(std::clamp<std::uint64_t>(free * 100 / known, 1, 99));
  return {Recoverable::Partial, percent};
}

void CutSizesAndAssess(const Volume& volume, ItemTree& tree, const StopToken& stop,
                       bool checkEntries) {
  if (tree.root() == nullptr) return;
  AllocationMap allocation(volume);
  StaleItemCheck check(volume);
  CutClaimedSizes(volume, tree, stop, [&](ItemNode& node, const ItemReader& reader) {
    const bool reused = checkEntries && !node.isLive() && check.EntryReused(node);
    node.recoverable = reused ? Recoverability{Recoverable::Overwritten, 0}
                              : AssessItem(volume, node, reader, allocation);
  });
}

}  // namespace restorix
