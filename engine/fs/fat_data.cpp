#include "fs/fat_data.h"

#include <algorithm>
#include <unordered_set>

#include "disk/volume.h"

namespace restorix {

namespace {

// The fixed FAT16 root folder: 512 entries of 32 bytes at the start of the
// data area, before cluster 2.
constexpr std::uint32_t kFat16RootBytes = 512 * 32;
constexpr std::uint64_t kMaxFolderBytes = 65536 * 32;

bool IsFat16(const VolumeContext& c) {
  return c.fsType() == FsType::Fat16;
}

// The end of a chain: end-of-chain markers and anything that names no
// cluster of the volume.
bool EndsChain(std::uint32_t entry, std::uint32_t current, const VolumeContext& c) {
  if (entry == current || entry == 0) return true;
  if (IsFat16(c)) return entry >= 0xFFF8 || entry > c.fatEntryCount() || entry < 2;
  // exFAT entries are whole 32-bit cluster numbers.
  if (c.isExfat()) return entry > c.fatEntryCount() || entry < 2;
  const std::uint32_t low = entry & 0x0FFFFFFF;
  return low >= 0x0FFFFFF8 || entry == 0x0FFFFFFF || low > c.fatEntryCount() || low < 2;
}

// Entries of the first FAT, each taken whole (the upper four bits of a FAT32
// entry included), read one FAT sector at a time: a sector is read again
// only when an entry lies in another one than the last.
class FatEntries {
 public:
  explicit FatEntries(const Volume& volume)
      : volume_(volume),
        context_(volume.context()),
        entryBytes_(IsFat16(context_) ? 2 : 4),
        perSector_(context_.bytesPerSector() / entryBytes_),
        sector_(context_.bytesPerSector()) {}

  // nullopt for an unusable sector size or a sector past 64 bits.
  std::optional<std::uint32_t> Get(std::uint32_t cluster) {
    if (perSector_ == 0) return std::nullopt;
    const auto wanted = CheckedAdd(context_.fatStart(), cluster / perSector_);
    if (!wanted) return std::nullopt;
    if (*wanted != cached_) {
      volume_.ReadSectors(sector_, *wanted);
      cached_ = *wanted;
    }
    const std::size_t at = std::size_t{cluster % perSector_} * entryBytes_;
    return entryBytes_ == 2 ? le16(sector_, at) : le32(sector_, at);
  }

 private:
  const Volume& volume_;
  const VolumeContext& context_;
  std::uint32_t entryBytes_;
  std::uint32_t perSector_;
  std::vector<std::uint8_t> sector_;
  std::uint64_t cached_ = ~std::uint64_t{0};
};

}  // namespace

std::optional<std::uint64_t> FatClusterSector(const VolumeContext& c, std::uint32_t cluster) {
  if (cluster < 2) return std::nullopt;
  const std::uint64_t rootSectors =
      IsFat16(c) && c.bytesPerSector() ? kFat16RootBytes / c.bytesPerSector() : 0;
  const auto within = CheckedMul(cluster - 2u, c.clusterSectors());
  const auto start = CheckedAdd(c.dataStart(), rootSectors);
  return within && start ? CheckedAdd(*start, *within) : std::nullopt;
}

std::vector<std::uint32_t> BuildClusterChain(const Volume& volume, std::uint32_t first,
                                             std::uint64_t limit) {
  const VolumeContext& c = volume.context();
  std::vector<std::uint32_t> chain;
  if (first == 1) return chain;
  chain.push_back(first);
  FatEntries fat(volume);
  std::uint32_t current = first;
  while (chain.size() <= c.fatEntryCount() && chain.size() < limit) {
    const auto entry = fat.Get(current);
    if (!entry || EndsChain(*entry, current, c)) break;
    current = IsFat16(c) || c.isExfat() ? *entry : *entry & 0x0FFFFFFF;
    chain.push_back(current);
  }
  return chain;
}

std::optional<std::uint32_t> ReadFatEntry(const Volume& volume, std::uint32_t cluster) {
  return FatEntries(volume).Get(cluster);
}

void ReadFatFolderBuffers(const Volume& volume, std::uint32_t id,
                          const std::function<bool(Bytes buffer)>& parse) {
  const VolumeContext& c = volume.context();
  if (IsFat16(c) && id == 1) {
    std::vector<std::uint8_t> root(kFat16RootBytes, 0);
    volume.ReadSectors(root, c.dataStart());
    parse(root);
    return;
  }
  std::vector<std::uint8_t> cluster(c.clusterBytes());
  if (cluster.empty()) return;
  const std::uint64_t reach = (kMaxFolderBytes + cluster.size() - 1) / cluster.size();
  std::unordered_set<std::uint32_t> passed;
  for (const std::uint32_t cell : BuildClusterChain(volume, id, reach)) {
    const auto sector = FatClusterSector(c, cell);
    if (!sector || cell > c.fatEntryCount() || !passed.insert(cell).second) return;
    volume.ReadSectors(cluster, *sector);
    if (parse(cluster)) return;
  }
}

bool StartsFatFolder(Bytes cluster, std::uint32_t number) {
  static constexpr char kDot[] = ".          ";
  static constexpr char kDotDot[] = "..         ";
  constexpr std::uint8_t kFolder = 0x10;
  return cluster.size() >= 64 && std::equal(kDot, kDot + 11, cluster.begin()) &&
         std::equal(kDotDot, kDotDot + 11, cluster.begin() + 32) && (cluster[11] & kFolder) &&
         (cluster[43] & kFolder) && FatFirstCluster(cluster) == number;
}

namespace {

// Whether a 32-byte entry could open a folder's next cluster: a long-name
// piece, or a short entry (deleted or not) whose name bytes are characters
// and whose attribute byte a file or folder carries.
bool ContinuesFolder(Bytes entry) {
  const std::uint8_t attribute = entry[11];
  if (attribute == 0x0F) return entry[12] == 0 && le16(entry, 26) == 0;
  if (attribute > 0x30 || attribute == 0x18 || (attribute & 0x08)) return false;
  if (entry[0] != 0xE5 && entry[0] <= ' ') return false;
  return std::all_of(entry.begin() + 1, entry.begin() + 11,
                     [](std::uint8_t b) { return b >= ' ' && b != 0x7F; });
}

}  // namespace

bool HoldsFatEntries(Bytes cluster, const VolumeContext& c) {
  bool anyShort = false;
  for (std::size_t o = 0; o + 32 <= cluster.size(); o += 32) {
    const Bytes entry = cluster.subspan(o, 32);
    if (entry[0] == 0) break;
    if (!ContinuesFolder(entry)) return false;
    if (entry[11] == 0x0F) {
      const std::uint8_t order = entry[0] & 0x1F;
      if (entry[0] != 0xE5 && (order == 0 || order > 20)) return false;
      continue;
    }
    const bool folder = (entry[11] & 0x10) != 0;
    if (FatFirstCluster(entry) > c.fatEntryCount() || (entry[12] & ~0x18) != 0 ||
        (folder && le32(entry, 28) != 0)) {
      return false;
    }
    anyShort = true;
  }
  return anyShort;
}

void ReadFatFolderOnward(const Volume& volume, std::uint32_t first,
                         const std::function<bool(Bytes buffer)>& parse) {
  const VolumeContext& c = volume.context();
  std::vector<std::uint8_t> cluster(c.clusterBytes());
  if (cluster.empty() || first < 2) return;
  const std::uint64_t reach = (kMaxFolderBytes + cluster.size() - 1) / cluster.size();
  FatEntries fat(volume);
  for (std::uint64_t n = first; n < first + reach && n <= c.fatEntryCount(); ++n) {
    const auto number = static_cast<std::uint32_t>(n);
    const auto sector = FatClusterSector(c, number);
    if (!sector) return;
    std::fill(cluster.begin(), cluster.end(), 0);
    volume.ReadSectors(cluster, *sector);
    if (n != first && (fat.Get(number).value_or(1) != 0 || StartsFatFolder(cluster, number) ||
                       !ContinuesFolder(Bytes(cluster).first(32)))) {
      return;
    }
    if (parse(cluster)) return;
  }
}

StreamMap MapFatItem(const Volume& volume, const FatChain& item, std::uint64_t size) {
  StreamMap map;
  const VolumeContext& c = volume.context();
  const std::uint64_t clusterBytes = c.clusterBytes();
  if (size == 0 || clusterBytes == 0 || item.firstCluster < 2) return map;
  const std::uint64_t clusters = (size + clusterBytes - 1) / clusterBytes;
  // A chain longer than the file's clusters and one more is not followed, so
  // one cell past that tells enough. An exFAT file marked contiguous has no
  // chain in the FAT at all.
  const std::vector<std::uint32_t> chain =
      item.contiguous ? std::vector<std::uint32_t>{}
                      : BuildClusterChain(volume, item.firstCluster, clusters + 2);
  const std::uint64_t chained = clusterBytes * chain.size();
  const bool followChain = !chain.empty() && chained - clusterBytes <= size && size <= chained;

  // Runs of clusters that lie one after another become one segment each.
  std::uint64_t left = size;
  std::size_t cell = 0;
  std::uint64_t next = item.firstCluster;
  while (left != 0) {
    const std::uint64_t first = followChain ? chain[cell] : next;
    std::uint64_t count = 1;
    const std::uint64_t wanted = (left + clusterBytes - 1) / clusterBytes;
    while (count < wanted && (!followChain || (cell + count < chain.size() &&
                                               chain[cell + count] == first + count))) {
      ++count;
    }
    const std::uint64_t bytes = std::min(left, count * clusterBytes);
    const auto sector = first <= 0xFFFFFFFFull
                            ? FatClusterSector(c, static_cast<std::uint32_t>(first))
                            : std::nullopt;
    if (sector) {
      map.Sectors(*sector, bytes);
    } else {
      map.Zeros(bytes);
    }
    left -= bytes;
    cell += count;
    next += count;
    if (followChain && cell >= chain.size()) break;
  }
  return map;
}

}  // namespace restorix
