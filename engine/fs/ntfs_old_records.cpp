#include "fs/ntfs_old_records.h"

#include <algorithm>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "disk/read_ahead.h"
#include "disk/volume.h"
#include "fs/ntfs_record.h"
#include "fs/ntfs_scan.h"
#include "fs/recoverability.h"

namespace restorix {

namespace {

constexpr std::size_t kPieceBytes = std::size_t{4} << 20;
constexpr unsigned kPiecesAhead = 3;
constexpr std::uint32_t kRootRecord = 5;
constexpr std::uint32_t kExtendRecord = 11;  // $Extend: the file system's own files
constexpr std::uint8_t kShortNameSpace = 2;
constexpr std::uint64_t kNumberMask = 0x0000FFFFFFFFFFFFull;

std::uint32_t NumberOf(std::uint64_t reference) {
  return static_cast<std::uint32_t>(reference & kNumberMask);
}
std::uint16_t SequenceOf(std::uint64_t reference) {
  return static_cast<std::uint16_t>(reference >> 48);
}

// The record's file name to show: the first one that is not a DOS 8.3 name,
// else the first. Its parent reference comes with it, sequence number and
// all.
struct ChosenName {
  std::u16string name;
  std::uint64_t parent = 0;
};
std::optional<ChosenName> ChooseName(Bytes record) {
  std::optional<ChosenName> chosen;
  for (AttributeWalk walk(record, FirstAttributeOffset(record)); auto a = walk.Next();) {
    if (a->type() != ATTR_FILE_NAME || a->nonResident()) continue;
    const Bytes value = a->value();
    if (value.size() < 0x42) continue;
    const ChosenName here{
        Utf16FromLittleEndian(Slice(value, 0x42, 2 * std::size_t{u8(value, 0x40)})),
        le64(value, 0x00)};
    if (u8(value, 0x41) != kShortNameSpace) return here;
    if (!chosen) chosen = here;
  }
  return chosen;
}

bool HasAttributeList(Bytes record) {
  for (AttributeWalk walk(record, FirstAttributeOffset(record)); auto a = walk.Next();)
    if (a->type() == ATTR_ATTRIBUTE_LIST) return true;
  return false;
}

// One old base record kept for the tree.
struct OldRecord {
  ItemNode* node = nullptr;  // a folder, or the first stream of a file
  std::optional<std::uint32_t> number;
  std::uint16_t sequence = 0;
  std::uint64_t logSequence = 0;  // the newer of two copies of a record has the higher one
  std::uint64_t parent = 0;       // reference, sequence number included
  std::uint64_t sector = 0;
  bool folder = false;
  bool wasInUse = false;
  bool listed = false;  // its data is found through an attribute list
};

class OldRecordScan {
 public:
  OldRecordScan(const Volume& volume, ItemTree& tree, ItemNode* lostFolders, TaskControl task)
      : volume_(volume),
        tree_(tree),
        lost_(lostFolders),
        task_(task),
        context_(volume.context()),
        allocation_(volume) {}

  void Run() {
    recordBytes_ = context_.mftRecordBytes();
    sectorBytes_ = context_.bytesPerSector();
    if (recordBytes_ == 0 || sectorBytes_ == 0 || recordBytes_ % sectorBytes_ != 0) return;
    try {
      Read();
    } catch (...) {
      Build(false);  // what was found stays, even when the device went away
      throw;
    }
    Build(true);
  }

 private:
  // An extension record: where it lies and whose it is.
  struct Extension {
    std::uint64_t sector;
    std::uint64_t base;
  };

  // The whole volume, front to back. Each piece reaches one record less a
  // sector past its stride, so that a record starting near its end is read
  // whole; records are looked for only where the stride puts them.
  void Read() {
    const std::uint64_t first = context_.firstSector();
    const std::uint64_t end = VolumeEndSector(context_);
    const std::uint64_t overlap = recordBytes_ / sectorBytes_ - 1;
    const std::uint64_t stride = kPieceBytes / sectorBytes_ - overlap;
    ReadAhead::Planner plan = [=, this, at = first]() mutable -> std::optional<ReadAhead::Piece> {
      if (at >= end) return std::nullopt;
      const std::uint64_t sectors = std::min(stride + overlap, end - at);
      const ReadAhead::Piece piece{at, static_cast<std::size_t>(sectors * sectorBytes_),
                                   std::min(stride, sectors)};
      at += std::min(stride, sectors);
      return piece;
    };
    ReadAhead ahead(volume_, task_.stop, plan, kPieceBytes, kPiecesAhead);
    std::vector<std::uint8_t> record(recordBytes_);
    while (task_.running()) {
      const std::optional<ReadAhead::Read> piece = ahead.Next();
      if (!piece) break;
      task_.events.ScanProgress(piece->piece.sector - first, context_.totalSectors());
      const Bytes bytes = piece->bytes;
      const std::uint64_t starts = piece->piece.tag;  // sectors where records may start
      for (std::uint64_t i = 0; i < starts; ++i) {
        const std::size_t offset = static_cast<std::size_t>(i * sectorBytes_);
        if (offset + recordBytes_ > bytes.size()) break;
        if (le32(bytes, offset) != 0x454C4946) continue;  // "FILE"
        const std::uint64_t sector = piece->piece.sector + i;
        if (Skipped(sector)) continue;
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), recordBytes_,
                    record.begin());
        if (!CheckMftRecord(record, context_)) continue;
        Found(sector, record);
        i += recordBytes_ / sectorBytes_ - 1;
      }
    }
  }

  // Records the current MFT holds are the MFT scan's; clusters the volume
  // gives to files now hold their data, whatever it looks like.
  bool Skipped(std::uint64_t sector) {
    return InCurrentMft(volume_, sector) || allocation_.SectorInUse(sector).value_or(false);
  }

  void Found(std::uint64_t sector, Bytes record) {
    const std::optional<std::uint32_t> number = OwnRecordNumber(record);
    if (const std::uint64_t base = BaseRecordReference(record); base != 0) {
      if (number) extensions_.emplace(*number, Extension{sector, base});
      return;
    }
    if (number && *number < kFirstUserRecord) return;
    const std::uint16_t flags = RecordFlags(record);
    const bool folder = (flags & kMftRecordIsFolder) != 0;
    if ((flags & ~(kMftRecordInUse | kMftRecordIsFolder)) != 0) return;
    const std::optional<ChosenName> name = ChooseName(record);
    if (!name || NumberOf(name->parent) == kExtendRecord) return;

    OldRecord old;
    old.number = number;
    old.sequence = SequenceNumber(record);
    old.logSequence = le64(record, 0x08);
    old.parent = name->parent;
    old.sector = sector;
    old.folder = folder;
    old.wasInUse = (flags & kMftRecordInUse) != 0;

    // A second copy of a record (an old MFT fragment that was moved, an
    // older format's table): the newer one stands.
    const std::uint64_t key = std::uint64_t{number.value_or(0)} << 16 | old.sequence;
    std::optional<std::size_t> replaced;
    if (const auto kept = byKey_.find(key); number && kept != byKey_.end()) {
      if (records_[kept->second].logSequence >= old.logSequence) return;
      replaced = kept->second;
    }

    ItemNode* node = tree_.NewNode();
    node->id = number.value_or(0);
    node->location = NtfsRecord{node->id, {}, old.sequence};
    ParseMftRecord(record, *node);
    old.listed = HasAttributeList(record);
    node->name = name->name;
    node->parentId = NumberOf(name->parent);
    node->flags = folder ? ItemFlags::Folder : ItemFlags::None;
    if (!folder && !old.listed) {
      try {
        LocateDataInRecord(tree_, record, sector, node);
      } catch (...) {
        tree_.Discard(node);
        throw;
      }
      if (node->size == 0) {
        tree_.Discard(node);
        return;
      }
    }
    old.node = node;
    if (replaced) {
      tree_.Discard(records_[*replaced].node);
      records_[*replaced] = old;
    } else {
      if (number) byKey_.emplace(key, records_.size());
      records_.push_back(old);
    }
  }

  // Files with an attribute list: their pieces lie in extension records of
  // the same old table, found by number and by their base reference.
  void LocateListed(OldRecord& old) {
    std::vector<std::uint8_t> record(recordBytes_);
    volume_.ReadSectors(record, old.sector);
    if (!CheckMftRecord(record, context_) || !old.number) return;
    const std::uint32_t own = *old.number;
    const std::uint16_t sequence = old.sequence;
    LocateDataThroughList(
        volume_, tree_, record, old.node,
        [&](std::uint32_t number) -> std::optional<std::uint64_t> {
          if (number == own) return old.sector;
          const auto [from, to] = extensions_.equal_range(number);
          for (auto e = from; e != to; ++e) {
            if (NumberOf(e->second.base) == own &&
                (SequenceOf(e->second.base) == 0 || SequenceOf(e->second.base) == sequence)) {
              return e->second.sector;
            }
          }
          return std::nullopt;
        });
  }

  // The folder a parent reference names: the same number, and the same
  // sequence number, or the next one for a folder deleted after the child
  // was filed in it.
  std::optional<std::size_t> ParentOf(const OldRecord& child) const {
    const auto [from, to] = folders_.equal_range(NumberOf(child.parent));
    const std::uint16_t wanted = SequenceOf(child.parent);
    std::optional<std::size_t> found;
    for (auto f = from; f != to; ++f) {
      const OldRecord& folder = records_[f->second];
      if (wanted == 0 || folder.sequence == wanted) return f->second;
      if (!folder.wasInUse && folder.sequence == static_cast<std::uint16_t>(wanted + 1))
        found = f->second;
    }
    return found;
  }

  // Hangs what was found in the tree. With `readLists`, files with an
  // attribute list first have their data located (not after a lost device).
  void Build(bool readLists) {
    for (OldRecord& old : records_) {
      if (old.folder || !old.listed) continue;
      if (readLists && task_.running()) LocateListed(old);
      if (old.node->size == 0) {  // no piece of its data was found
        tree_.Discard(old.node);
        old.node = nullptr;
      }
    }
    for (std::size_t i = 0; i < records_.size(); ++i) {
      if (records_[i].folder && records_[i].number) folders_.emplace(*records_[i].number, i);
    }
    std::vector<std::optional<std::size_t>> parents(records_.size());
    for (std::size_t i = 0; i < records_.size(); ++i) {
      if (records_[i].node != nullptr) parents[i] = ParentOf(records_[i]);
    }
    CutLoops(parents);

    std::map<std::uint32_t, ItemNode*> placeholders;
    for (std::size_t i = 0; i < records_.size(); ++i) {
      const OldRecord& old = records_[i];
      if (old.node == nullptr) continue;
      ItemNode* folder = lost_;
      if (parents[i]) {
        folder = records_[*parents[i]].node;
      } else if (!old.folder && NumberOf(old.parent) != kRootRecord) {
        folder = Placeholder(placeholders, NumberOf(old.parent));
      }
      // A file and its further streams, each its own item.
      for (ItemNode* node = old.node; node != nullptr;) {
        ItemNode* next = node->next;
        tree_.AddChild(folder, node);
        node = next;
      }
    }
    records_.clear();
  }

  // Marks each folder done once its chain of parents is known to end; a
  // chain that meets itself loses the link that closed it.
  void CutLoops(std::vector<std::optional<std::size_t>>& parents) const {
    enum : std::uint8_t { kNew, kWalking, kDone };
    std::vector<std::uint8_t> state(parents.size(), kNew);
    std::vector<std::size_t> path;
    for (std::size_t start = 0; start < parents.size(); ++start) {
      path.clear();
      std::size_t at = start;
      while (state[at] == kNew) {
        state[at] = kWalking;
        path.push_back(at);
        if (!parents[at]) break;
        if (state[*parents[at]] == kWalking) {
          parents[at].reset();
          break;
        }
        at = *parents[at];
      }
      for (const std::size_t walked : path)
        state[walked] = kDone;
    }
  }

  // "#<number>" under the lost folders, for files whose folder record is
  // gone.
  ItemNode* Placeholder(std::map<std::uint32_t, ItemNode*>& made, std::uint32_t number) {
    ItemNode*& folder = made[number];
    if (folder == nullptr) {
      folder = tree_.NewNode();
      folder->id = number;
      folder->parentId = lost_->id;
      folder->flags = ItemFlags::Folder;
      const std::string text = "#" + std::to_string(number);
      folder->name.assign(text.begin(), text.end());
      tree_.AddChild(lost_, folder);
    }
    return folder;
  }

  const Volume& volume_;
  ItemTree& tree_;
  ItemNode* lost_;
  TaskControl task_;
  const VolumeContext& context_;
  AllocationMap allocation_;
  std::uint32_t recordBytes_ = 0;
  std::uint32_t sectorBytes_ = 0;
  std::vector<OldRecord> records_;
  std::unordered_map<std::uint64_t, std::size_t> byKey_;  // number and sequence
  std::unordered_multimap<std::uint32_t, Extension> extensions_;
  std::unordered_multimap<std::uint32_t, std::size_t> folders_;
};

}  // namespace

std::optional<std::uint32_t> OwnRecordNumber(Bytes record) {
  if (le16(record, 0x04) != 0x30) return std::nullopt;
  return le32(record, 0x2C);
}

bool InCurrentMft(const Volume& volume, std::uint64_t sector) {
  const VolumeContext& context = volume.context();
  for (const RunNode& run : volume.mftRuns()) {
    const auto first = ClusterSector(context, run.startCluster);
    const auto sectors = CheckedMul(run.clusterCount, context.sectorsPerCluster());
    if (first && sectors && sector >= *first && sector - *first < *sectors) return true;
  }
  return false;
}

void ScanOldMftRecords(const Volume& volume, ItemTree& tree, ItemNode* lostFolders,
                       TaskControl task) {
  if (lostFolders == nullptr) return;
  OldRecordScan(volume, tree, lostFolders, task).Run();
}

}  // namespace restorix
