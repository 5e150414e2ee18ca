#include "fs/lost_fat_folders.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "disk/volume.h"
#include "fs/exfat_data.h"
#include "fs/exfat_scan.h"
#include "fs/fat_data.h"
#include "fs/fat_scan.h"
#include "fs/lost_folders.h"
#include "fs/recoverability.h"

namespace restorix {

namespace {

constexpr std::size_t kEntryBytes = 32;
constexpr std::uint8_t kLongNameAttribute = 0x0F;
constexpr std::uint8_t kLastPiece = 0x40;
constexpr std::uint64_t kReadBytes = 1 << 20;
// How far an exFAT folder that no entry names is read on: as far as a FAT
// folder can reach. One that an entry names is read as far as the entry
// says, up to the largest folder exFAT allows.
constexpr std::uint64_t kMaxGuessedBytes = 65536 * kEntryBytes;
constexpr std::uint64_t kMaxExfatFolderBytes = 256ull << 20;

// Whether a byte opens an exFAT entry that a folder's later cluster can
// start with: a file, stream or name entry, in use or not.
bool OpensExfatEntry(std::uint8_t type) {
  const std::uint8_t kind = type & 0x7F;
  return kind == 0x05 || kind == 0x40 || kind == 0x41;
}

bool HoldsExfatEnd(Bytes cluster) {
  for (std::size_t o = 0; o + kEntryBytes <= cluster.size(); o += kEntryBytes)
    if (cluster[o] == 0) return true;
  return false;
}

std::u16string NumberName(std::uint32_t cluster) {
  std::u16string name = u"#";
  for (const char digit : std::to_string(cluster))
    name += static_cast<char16_t>(digit);
  return name;
}

// Whether `target` is `node` or one of its ancestors.
bool Reaches(const ItemNode* node, const ItemNode* target) {
  for (; node != nullptr; node = node->parent)
    if (node == target) return true;
  return false;
}

// Sorted, merged runs of clusters [first, end).
class ClusterRuns {
 public:
  void Add(std::uint64_t first, std::uint64_t count) {
    if (count != 0) runs_.push_back({first, first + count});
  }
  void Merge() {
    std::sort(runs_.begin(), runs_.end());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> merged;
    for (const auto& run : runs_) {
      if (!merged.empty() && run.first <= merged.back().second) {
        merged.back().second = std::max(merged.back().second, run.second);
      } else {
        merged.push_back(run);
      }
    }
    runs_ = std::move(merged);
  }
  bool Contains(std::uint64_t cluster) const {
    const auto after =
        std::upper_bound(runs_.begin(), runs_.end(), std::pair{cluster, ~std::uint64_t{0}});
    return after != runs_.begin() && cluster < std::prev(after)->second;
  }

 private:
  std::vector<std::pair<std::uint64_t, std::uint64_t>> runs_;
};

class LostFolderRebuild {
 public:
  LostFolderRebuild(const Volume& volume, ItemTree& tree, TaskControl task)
      : volume_(volume),
        c_(volume.context()),
        tree_(tree),
        task_(task),
        exfat_(c_.isExfat()),
        clusterBytes_(c_.clusterBytes()),
        last_(c_.fatEntryCount()),
        allocation_(volume) {}

  void Run() {
    const auto heap = FatClusterSector(c_, 2);
    if (clusterBytes_ == 0 || last_ < 2 || !heap) return;
    heap_ = *heap;
    NoteTreeFolders();
    Discover();
    if (exfat_) {
      ReadExfatFolders();
    } else {
      ReadFatFolders();
    }
    Link();
  }

 private:
  // A folder found in the data area.
  struct Found {
    // Its items: the folder's own node until the entry of a parent claims
    // it, that entry's node afterwards.
    ItemNode* node = nullptr;
    std::optional<std::uint32_t> parent;  // FAT: the cluster its ".." names
    bool placed = false;                  // hung in the tree
  };

  // The clusters the tree's folders hold already: the first cluster of a
  // FAT folder (its chain, when there is one, is in use), the clusters an
  // exFAT folder's size covers.
  void NoteTreeFolders() {
    WalkTree(tree_.root(), [&](const ItemNode& node, int) {
      const auto* chain = std::get_if<FatChain>(&node.location);
      if (!node.isFolder() || chain == nullptr) return;
      if (!exfat_) {
        known_.Add(chain->firstCluster, 1);
        return;
      }
      const StreamMap map = MapFatItem(volume_, *chain, std::min(node.size, kMaxExfatFolderBytes));
      for (const StreamSegment& segment : map.segments) {
        if (segment.kind != StreamSegment::Kind::Sectors || segment.sector < heap_) continue;
        known_.Add(2 + (segment.sector - heap_) / c_.clusterSectors(),
                   (segment.length + clusterBytes_ - 1) / clusterBytes_);
      }
    });
    known_.Merge();
  }

  bool Free(std::uint64_t cluster) {
    const auto sector = FatClusterSector(c_, static_cast<std::uint32_t>(cluster));
    return sector && !known_.Contains(cluster) && !allocation_.SectorInUse(*sector).value_or(false);
  }

  // Reads the free clusters a megabyte at a time and notes the first
  // clusters of folders among them.
  void Discover() {
    const std::uint64_t perRead = std::max<std::uint64_t>(1, kReadBytes / clusterBytes_);
    std::vector<std::uint8_t> buffer;
    std::vector<bool> wanted;
    for (std::uint64_t first = 2; first <= last_ && task_.running(); first += perRead) {
      task_.events.ScanProgress(first - 2, last_ - 1);
      const std::uint64_t count = std::min(perRead, last_ + 1 - first);
      wanted.assign(count, false);
      bool any = false;
      for (std::uint64_t i = 0; i < count; ++i) {
        wanted[i] = Free(first + i);
        any = any || wanted[i];
      }
      if (!any) continue;
      buffer.assign(count * clusterBytes_, 0);
      volume_.ReadSectors(buffer, heap_ + (first - 2) * c_.clusterSectors());
      for (std::uint64_t i = 0; i < count; ++i) {
        if (wanted[i])
          Look(static_cast<std::uint32_t>(first + i),
               Bytes(buffer).subspan(i * clusterBytes_, clusterBytes_));
      }
    }
  }

  // A folder found carries its first cluster as its id, as every FAT and
  // exFAT folder does, and the stale-scan check reads it again from there.
  // No folder of the live tree has that id: the cluster is free, and no
  // folder the file-system scan read starts there (Free).
  ItemNode* NewFolder(std::uint32_t cluster) {
    ItemNode* node = tree_.NewNode();
    node->id = cluster;
    node->name = NumberName(cluster);
    node->flags = ItemFlags::Folder;
    node->location = FatChain{cluster, exfat_};
    return node;
  }

  void Look(std::uint32_t cluster, Bytes bytes) {
    if (!exfat_) {
      if (!StartsFatFolder(bytes, cluster)) {
        // A later cluster of a folder whose first one is gone, or that does
        // not follow it: its files are listed in a folder of their own,
        // unless a folder found is read on into it.
        if (HoldsFatEntries(bytes, c_)) {
          Later& later = later_[cluster];
          later.node = NewFolder(cluster);
          std::copy_n(bytes.begin(), kEntryBytes, later.head.begin());
        }
        return;
      }
      // Its parentId stays 0 until it is linked: no folder check of the
      // parse can take it for a folder of the live tree.
      ItemNode* node = NewFolder(cluster);
      node->createDate = le16(bytes, 16);
      node->accessDate = le16(bytes, 18);
      node->times = {FatItemTime(le16(bytes, 16), le16(bytes, 14), bytes[13]),
                     FatItemTime(le16(bytes, 24), le16(bytes, 22)),
                     FatItemTime(le16(bytes, 18), 0)};
      found_[cluster] = {node, FatFirstCluster(bytes.subspan(kEntryBytes)), false};
      return;
    }
    if ((bytes[0] & 0x7F) != 0x05) return;
    const std::vector<ExfatEntrySet> sets = ParseExfatFolder(bytes);
    if (sets.empty() || sets.front().offset != 0) return;
    found_[cluster] = {NewFolder(cluster), std::nullopt, false};
    for (const ExfatEntrySet& set : sets) {
      if (!set.folder) continue;
      // A live entry's word counts over a deleted one's.
      if (!set.deleted || !named_.contains(set.firstCluster)) named_[set.firstCluster] = set.size;
    }
  }

  // Reads the folders found, then the later clusters that none of them was
  // read on into, each with those after it.
  void ReadFatFolders() {
    for (const auto& [cluster, later] : later_) {
      const Bytes head = later.head;
      // A long-name piece not marked last goes on with a name; a short entry
      // ends one (order 0 here).
      if (head[11] != kLongNameAttribute) {
        continuations_[{0, FatShortNameSum(head)}].push_back(cluster);
      } else if ((head[0] & kLastPiece) == 0) {
        continuations_[{head[0], head[13]}].push_back(cluster);
      }
    }
    for (auto& [cluster, found] : found_) {
      if (!task_.running()) return;
      ReadFatFolder(cluster, found.node, true);
    }
    for (auto& [cluster, later] : later_) {
      if (!task_.running()) return;
      if (later.node == nullptr) continue;
      ItemNode* node = std::exchange(later.node, nullptr);
      ReadFatFolder(cluster, node, false);
      found_[cluster] = {node, std::nullopt, false};
    }
  }

  // Reads a folder on from its first cluster. Where its clusters are used up
  // inside a long name, the folder goes on in the later cluster that opens
  // with the rest of that name (the next piece down, or the short entry,
  // with the same checksum), when one is found.
  void ReadFatFolder(std::uint32_t first, ItemNode* folder, bool dotted) {
    FolderParse parse;
    std::array<std::uint8_t, kEntryBytes> last{};
    for (std::uint32_t run = first;;) {
      ItemNode* before = folder->firstChild;
      const bool usedUp = ReadFatRun(run, folder, dotted && run == first, parse, last);
      // The entries of a later run are found again there (the stale-scan
      // check reads each run as a folder of its own).
      for (ItemNode* item = folder->firstChild; run != first && item != before; item = item->next)
        item->parentId = run;
      if (!usedUp || !parse.collecting || last[11] != kLongNameAttribute) return;
      const std::uint8_t order = last[0] & 0x1F;
      const auto next = continuations_.find({static_cast<std::uint8_t>(order - 1), last[13]});
      if (order == 0 || next == continuations_.end()) return;
      const auto taken = std::find_if(next->second.begin(), next->second.end(), [&](auto cluster) {
        return later_.at(cluster).node != nullptr;
      });
      if (taken == next->second.end()) return;
      run = *taken;
      tree_.Discard(std::exchange(later_.at(run).node, nullptr));
    }
  }

  // Reads one run of clusters from `first` (see ReadFatFolderOnward) into
  // the folder; true when its last cluster was used up without an end.
  // `last` ends as the last entry read.
  bool ReadFatRun(std::uint32_t first, ItemNode* folder, bool dotted, FolderParse& parse,
                  std::array<std::uint8_t, kEntryBytes>& last) {
    std::uint32_t cluster = first;
    bool usedUp = false;
    ReadFatFolderOnward(volume_, first, [&](Bytes buffer) {
      if (const auto later = later_.find(cluster); later != later_.end() && cluster != first)
        tree_.Discard(std::exchange(later->second.node, nullptr));
      ++cluster;
      const Bytes entries =
          dotted && cluster == first + 1 ? buffer.subspan(2 * kEntryBytes) : buffer;
      const bool ended = ParseFatDirectoryBuffer(c_, tree_, entries, folder, parse);
      usedUp = !ended;
      if (entries.size() >= kEntryBytes)
        std::copy_n(entries.end() - kEntryBytes, kEntryBytes, last.begin());
      return ended;
    });
    return usedUp;
  }

  // Reads each exFAT folder found, in cluster order. A found cluster inside
  // a folder read before it is that folder's, not a folder of its own.
  void ReadExfatFolders() {
    std::uint64_t covered = 0;
    std::vector<std::uint8_t> bytes;
    for (auto it = found_.begin(); it != found_.end() && task_.running();) {
      const std::uint32_t first = it->first;
      if (first < covered) {
        tree_.Discard(it->second.node);
        it = found_.erase(it);
        continue;
      }
      const auto named = named_.find(first);
      std::uint64_t clusters = 0;
      if (named != named_.end()) {
        const std::uint64_t size = std::min(named->second, kMaxExfatFolderBytes);
        clusters = std::clamp<std::uint64_t>((size + clusterBytes_ - 1) / clusterBytes_, 1,
                                             last_ + 1 - first);
        bytes.assign(clusters * clusterBytes_, 0);
        volume_.ReadSectors(bytes, heap_ + (first - 2) * c_.clusterSectors());
      } else {
        clusters = ReadGuessed(first, bytes);
      }
      ItemNode* node = it->second.node;
      node->size = bytes.size();
      AddExfatFolderItems(tree_, node, ParseExfatFolder(bytes));
      covered = first + clusters;
      ++it;
    }
  }

  // The clusters of an exFAT folder that no entry names, into `bytes`: the
  // first, then the next ones while the last held no end of the folder and
  // the next is free, no named folder starts there and it opens with a
  // folder's entry.
  std::uint64_t ReadGuessed(std::uint32_t first, std::vector<std::uint8_t>& bytes) {
    bytes.assign(clusterBytes_, 0);
    volume_.ReadSectors(bytes, heap_ + (first - 2) * c_.clusterSectors());
    std::uint64_t clusters = 1;
    std::vector<std::uint8_t> next(clusterBytes_);
    while (!HoldsExfatEnd(Bytes(bytes).last(clusterBytes_)) &&
           bytes.size() + clusterBytes_ <= kMaxGuessedBytes) {
      const std::uint64_t cluster = first + clusters;
      if (cluster > last_ || !Free(cluster) || named_.contains(static_cast<std::uint32_t>(cluster)))
        break;
      std::fill(next.begin(), next.end(), 0);
      volume_.ReadSectors(next, heap_ + (cluster - 2) * c_.clusterSectors());
      if (!OpensExfatEntry(next[0])) break;
      bytes.insert(bytes.end(), next.begin(), next.end());
      ++clusters;
    }
    return clusters;
  }

  // Hangs every folder found: under the entry of a parent that names it
  // (on FAT one its ".." names back), else (FAT) under the folder its ".."
  // names, else under "Lost Folders".
  // No link is made that would close a loop.
  void Link() {
    for (auto& [cluster, found] : found_) {
      for (ItemNode* entry = found.node->firstChild; entry; entry = entry->next) {
        if (!entry->isFolder()) continue;
        const auto child = found_.find(entry->id);
        if (child == found_.end() || child->first == cluster || child->second.placed) continue;
        // A later cluster whose entry names a folder of the root (".." 0)
        // is a later cluster of the old root.
        const bool ofRoot = !found.parent && child->second.parent == 0;
        if (!exfat_ && child->second.parent != cluster && !ofRoot) continue;
        if (Reaches(entry, child->second.node)) continue;
        Claim(entry, child->second);
      }
    }
    for (auto& [cluster, found] : found_) {
      if (found.placed || !found.parent) continue;
      const auto parent = found_.find(*found.parent);
      if (parent == found_.end() || Reaches(parent->second.node, found.node)) continue;
      tree_.AddChild(parent->second.node, found.node);
      found.placed = true;
    }
    ItemNode* lost = nullptr;
    ItemNode* previous = nullptr;
    for (auto& [cluster, found] : found_) {
      if (!found.placed) {
        if (lost == nullptr) lost = LostFoldersIn(tree_);
        tree_.AddChildAfter(lost, previous, found.node);
        previous = found.node;
      }
      found.node->parentId = found.node->parent->id;
    }
  }

  // The folder's items move under the entry that names it, which stands for
  // the folder from now on.
  void Claim(ItemNode* entry, Found& found) {
    ItemNode* own = found.node;
    entry->firstChild = own->firstChild;
    for (ItemNode* item = entry->firstChild; item; item = item->next)
      item->parent = entry;
    own->firstChild = nullptr;
    entry->flags = ItemFlags::Folder;
    entry->location = own->location;
    entry->size = own->size;
    tree_.Discard(own);
    found.node = entry;
    found.placed = true;
  }

  const Volume& volume_;
  const VolumeContext& c_;
  ItemTree& tree_;
  TaskControl task_;
  const bool exfat_;
  const std::uint64_t clusterBytes_;
  const std::uint64_t last_;
  std::uint64_t heap_ = 0;
  AllocationMap allocation_;
  ClusterRuns known_;
  std::map<std::uint32_t, Found> found_;
  // FAT: clusters of entries that start no folder, each with the node that
  // lists them on their own (null once a folder was read on into it) and
  // its first entry.
  struct Later {
    ItemNode* node = nullptr;
    std::array<std::uint8_t, kEntryBytes> head{};
  };
  std::map<std::uint32_t, Later> later_;
  // The later clusters that open with a long-name piece not marked last, by
  // its order byte and checksum.
  std::map<std::pair<std::uint8_t, std::uint8_t>, std::vector<std::uint32_t>> continuations_;
  // exFAT: the size each sub-folder's entry gives it, by first cluster.
  std::map<std::uint32_t, std::uint64_t> named_;
};

}  // namespace

void RebuildLostFatFolders(const Volume& volume, ItemTree& tree, TaskControl task) {
  LostFolderRebuild(volume, tree, task).Run();
}

}  // namespace restorix
