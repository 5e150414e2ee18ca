#include "fs/fat_scan.h"

#include <algorithm>
#include <memory>
#include <unordered_set>

#include "engine.h"

namespace restorix {

namespace {

constexpr std::size_t kEntryBytes = 32;
constexpr std::uint32_t kFat16RootBytes = 512 * 32;  // the fixed root: 512 entries
constexpr std::size_t kMaxLongName = 255;
constexpr std::uint64_t kMaxFolderBytes = 65536 * kEntryBytes;
constexpr std::uint8_t kDeletedMark = 0xE5;
constexpr std::uint8_t kAttributeLabel = 0x08;
constexpr std::uint8_t kAttributeFolder = 0x10;
constexpr std::uint8_t kAttributeLongName = 0x0F;
// Contiguous clusters of a file read at once.
constexpr std::uint64_t kReadBytes = 1 << 20;

bool IsFat16(const VolumeContext& c) {
  return c.fsType() == FS_FAT16;
}

// The sectors of the fixed FAT16 root folder at the start of the data area.
std::uint32_t Fat16RootSectors(const VolumeContext& c) {
  return c.bytesPerSector() ? kFat16RootBytes / c.bytesPerSector() : 0;
}

std::uint32_t FirstCluster(Bytes entry) {
  return (std::uint32_t{le16(entry, 20)} << 16) | le16(entry, 26);
}

bool IsDotEntries(Bytes buffer) {
  static constexpr char kDot[] = ".          ";
  static constexpr char kDotDot[] = "..         ";
  return buffer.size() >= 64 && std::equal(kDot, kDot + 11, buffer.begin()) &&
         std::equal(kDotDot, kDotDot + 11, buffer.begin() + 32);
}

// The 13 UTF-16 units of one long-name entry, ended at the first 0 unit.
// Blanks are not dropped here: a piece may well end in the blank between two
// words; only the whole name loses trailing fill (see TrimLongName).
std::u16string LongNamePiece(Bytes entry) {
  static constexpr std::pair<int, int> kSpans[] = {{1, 5}, {14, 6}, {28, 2}};
  std::u16string piece;
  for (const auto& [from, count] : kSpans) {
    for (int i = 0; i < count; ++i) {
      const char16_t unit = le16(entry, static_cast<std::size_t>(from + 2 * i));
      if (unit == 0) return piece;
      piece += unit;
    }
  }
  return piece;
}

void TrimLongName(std::u16string& name) {
  while (!name.empty() && (name.back() == u' ' || name.back() == 0xFFFF))
    name.pop_back();
}

// The 8.3 name as it stands: each byte one unit, no code page; a deleted
// entry's lost first letter shows as "X".
std::u16string ShortName(Bytes entry) {
  std::u16string name;
  int end = 8;
  while (end > 0 && entry[end - 1] == ' ')
    --end;
  for (int i = 0; i < end; ++i)
    name += static_cast<char16_t>(entry[i]);
  int extension = 11;
  while (extension > 8 && entry[extension - 1] == ' ')
    --extension;
  if (extension > 8) {
    name += u'.';
    for (int i = 8; i < extension; ++i)
      name += static_cast<char16_t>(entry[i]);
  }
  if (entry[0] == kDeletedMark && !name.empty()) name[0] = u'X';
  return name;
}

bool Skipped(Bytes entry, std::uint32_t cluster, const VolumeContext& c) {
  const std::uint8_t attribute = entry[11];
  const std::uint8_t caseBits = entry[12];
  return cluster > c.fatEntryCount() || cluster <= c.fatKind() || attribute > 0x38 ||
         attribute == 0x18 || attribute == 0 ||
         (caseBits != 0x00 && caseBits != 0x08 && caseBits != 0x10 && caseBits != 0x18);
}

// Puts a new node in front of the folder's children, unless it is a live
// file (dropped) or a deleted folder of the same first cluster is there
// already (which takes the new node's flags and name).
void KeepOrMerge(std::unique_ptr<ItemNode> node, ItemNode* folder, DeletedFolders& deleted) {
  if (node->flags == ITEM_LIVE) return;
  if (const auto found = deleted.find(node->id); found != deleted.end()) {
    ItemNode* old = found->second;
    old->flags = node->flags;
    old->name = std::move(node->name);
    if (old->flags != ITEM_FOLDER) deleted.erase(found);
    return;
  }
  node->parent = folder;
  node->next = folder->firstChild;
  folder->firstChild = node.get();
  if (node->flags == ITEM_FOLDER) deleted.emplace(node->id, node.get());
  node.release();
}

// The end of a chain: end-of-chain markers and anything that names no
// cluster of the volume.
bool EndsChain(std::uint32_t entry, std::uint32_t current, const VolumeContext& c) {
  if (entry == current || entry == 0) return true;
  if (IsFat16(c)) return entry >= 0xFFF8 || entry > c.fatEntryCount() || entry < 2;
  const std::uint32_t low = entry & 0x0FFFFFFF;
  return low >= 0x0FFFFFF8 || entry == 0x0FFFFFFF || low > c.fatEntryCount() || low < 2;
}

}  // namespace

std::uint64_t FatClusterSector(const Engine& engine, std::uint32_t cluster) {
  const VolumeContext& c = engine.context;
  return c.dataStart() + std::uint64_t{cluster - 2} * c.sectorsPerCluster() +
         (IsFat16(c) ? Fat16RootSectors(c) : 0);
}

std::vector<std::uint32_t> BuildClusterChain(Engine& engine, std::uint32_t first,
                                             std::uint64_t limit) {
  const VolumeContext& c = engine.context;
  std::vector<std::uint32_t> chain;
  if (first == 1) return chain;
  chain.push_back(first);
  const std::uint32_t entryBytes = IsFat16(c) ? 2 : 4;
  const std::uint32_t perSector = c.bytesPerSector() / entryBytes;
  if (perSector == 0) return chain;
  std::vector<std::uint8_t> sector(c.bytesPerSector());
  std::uint64_t cached = ~std::uint64_t{0};
  std::uint32_t current = first;
  while (chain.size() <= c.fatEntryCount() && chain.size() < limit) {
    const std::uint64_t wanted = c.fatStart() + current / perSector;
    if (wanted != cached) {
      engine.ReadSectors(sector, wanted);
      cached = wanted;
    }
    const std::size_t at = std::size_t{current % perSector} * entryBytes;
    const std::uint32_t entry = IsFat16(c) ? le16(sector, at) : le32(sector, at);
    if (EndsChain(entry, current, c)) break;
    current = IsFat16(c) ? entry : entry & 0x0FFFFFFF;
    chain.push_back(current);
  }
  return chain;
}

bool ParseFatDirectoryBuffer(Engine& engine, Bytes buffer, ItemNode* folder,
                             DeletedFolders& deleted) {
  const VolumeContext& c = engine.context;
  std::size_t o = u8(buffer, 11) == kAttributeLabel ? kEntryBytes : 0;

  if (IsDotEntries(buffer)) {
    const std::uint32_t self = FirstCluster(buffer);
    std::uint32_t parent = FirstCluster(buffer.subspan(32));
    if (parent == 0) parent = c.fatKind();
    // The clusters must still hold this very folder.
    if (folder->id != self || folder->parentId != parent ||
        folder->createDate != le16(buffer, 48)) {
      return true;
    }
    if (engine.index.RegisterFolder(folder) != folder) return true;  // met before
    o = 2 * kEntryBytes;
  }

  while (o + kEntryBytes <= buffer.size()) {
    Bytes entry = buffer.subspan(o, kEntryBytes);
    const std::uint8_t attribute = entry[11];
    if (entry[0] == 0 || attribute > 0x30 || attribute == 0x18) return true;

    std::u16string longName;
    bool longNameTooLong = false;
    if (attribute == kAttributeLongName && entry[12] == 0) {
      while (o + kEntryBytes <= buffer.size() && buffer[o + 11] == kAttributeLongName) {
        longName.insert(0, LongNamePiece(buffer.subspan(o, kEntryBytes)));
        longNameTooLong = longNameTooLong || longName.size() > kMaxLongName;
        o += kEntryBytes;
      }
      if (o + kEntryBytes > buffer.size()) return false;  // a long name never carries over
      TrimLongName(longName);
      entry = buffer.subspan(o, kEntryBytes);
    }
    o += kEntryBytes;

    const std::uint32_t cluster = FirstCluster(entry);
    if (Skipped(entry, cluster, c)) continue;
    auto node = std::make_unique<ItemNode>();
    node->name = !longName.empty() && !longNameTooLong ? longName : ShortName(entry);
    node->size = le32(entry, 28);
    node->id = cluster;
    node->parentId = folder->id;
    node->createDate = le16(entry, 16);
    node->accessDate = le16(entry, 18);
    node->flags = static_cast<std::uint8_t>((entry[11] & kAttributeFolder ? ITEM_FOLDER : 0) |
                                            (entry[0] != kDeletedMark ? ITEM_LIVE : 0));
    // Everything inside a deleted folder counts as deleted.
    if (folder->flags == ITEM_FOLDER) node->flags &= static_cast<std::uint8_t>(~ITEM_LIVE);
    KeepOrMerge(std::move(node), folder, deleted);
  }
  return false;
}

bool ReadFatFolder(Engine& engine, ItemNode* folder) {
  const VolumeContext& c = engine.context;
  if (folder->id == 0) return true;
  DeletedFolders deleted;
  if (IsFat16(c) && folder->id == 1) {
    std::vector<std::uint8_t> root(kFat16RootBytes, 0);
    engine.ReadSectors(root, c.dataStart());
    ParseFatDirectoryBuffer(engine, root, folder, deleted);
    return true;
  }
  std::vector<std::uint8_t> cluster(c.clusterBytes());
  if (cluster.empty()) return true;
  bool own = true;
  bool first = true;
  // A folder holds at most 65,536 entries of 32 bytes, and a chain that
  // comes back to a cluster it has passed loops: it is read once round.
  const std::uint64_t reach = (kMaxFolderBytes + cluster.size() - 1) / cluster.size();
  std::unordered_set<std::uint32_t> passed;
  for (const std::uint32_t cell : BuildClusterChain(engine, folder->id, reach)) {
    if (cell < 2 || cell > c.fatEntryCount() || !passed.insert(cell).second) break;
    engine.ReadSectors(cluster, FatClusterSector(engine, cell));
    const bool ended = ParseFatDirectoryBuffer(engine, cluster, folder, deleted);
    // Dot entries that did not get the folder registered failed the check.
    if (first) own = !IsDotEntries(cluster) || engine.index.Find(folder->id) == folder;
    first = false;
    if (ended) break;
  }
  return own;
}

std::uint32_t ScanFatFolderTree(Engine& engine, ItemNode* root, FatScanCounters& counters) {
  // Depth first without recursion: each frame is a folder whose children are
  // being visited and the next child to visit.
  struct Frame {
    ItemNode* next;
  };
  std::unordered_set<std::uint32_t> read;
  std::vector<Frame> stack;
  const auto enter = [&](ItemNode* folder) {
    // Only a folder whose clusters turned out to be its own counts as read: a
    // deleted folder whose first cluster a newer folder took must not hide
    // that newer one.
    if (!read.contains(folder->id) && ReadFatFolder(engine, folder)) read.insert(folder->id);
    for (const ItemNode* child = folder->firstChild; child; child = child->next) {
      counters.found += !child->isFolder();
    }
    stack.push_back({folder->firstChild});
  };
  enter(root);
  while (!stack.empty() && engine.keepRunning != 0) {
    Frame& frame = stack.back();
    ItemNode* child = frame.next;
    if (child == nullptr) {
      stack.pop_back();
      continue;
    }
    frame.next = child->next;
    engine.events().ScanProgress(counters.done, counters.found);
    if (child->isFolder()) {
      enter(child);
    } else {
      ++counters.done;
    }
  }
  return engine.keepRunning;
}

void CopyFatItem(Engine& engine, const ItemNode& node, int out) {
  const VolumeContext& c = engine.context;
  const std::uint64_t clusterBytes = c.clusterBytes();
  if (node.size == 0 || clusterBytes == 0 || node.id < 2) return;
  // A chain longer than the file's clusters and one more is not followed, so
  // one cell past that tells enough.
  const std::vector<std::uint32_t> chain =
      BuildClusterChain(engine, node.id, (node.size + clusterBytes - 1) / clusterBytes + 2);
  const std::uint64_t chained = clusterBytes * chain.size();
  const bool followChain = chained - clusterBytes <= node.size && node.size <= chained;

  std::vector<std::uint8_t> buffer;
  std::uint64_t left = node.size;
  std::size_t cell = 0;
  std::uint64_t next = node.id;
  const std::uint64_t step = std::max<std::uint64_t>(1, kReadBytes / clusterBytes);
  while (left != 0) {
    // As many clusters as lie one after another, in one read.
    std::uint64_t first = followChain ? chain[cell] : next;
    std::uint64_t count = 1;
    const std::uint64_t wanted = (left + clusterBytes - 1) / clusterBytes;
    while (
        count < std::min(step, wanted) &&
        (!followChain || (cell + count < chain.size() && chain[cell + count] == first + count))) {
      ++count;
    }
    buffer.assign(count * clusterBytes, 0);
    if (first >= 2 && first <= 0xFFFFFFFFull) {
      engine.ReadSectors(buffer, FatClusterSector(engine, static_cast<std::uint32_t>(first)));
    }
    const std::uint64_t bytes = std::min<std::uint64_t>(left, buffer.size());
    WriteOrAbort(out, Bytes(buffer).first(bytes));
    left -= bytes;
    cell += count;
    next += count;
    if (followChain && cell >= chain.size()) break;
  }
}

}  // namespace restorix
