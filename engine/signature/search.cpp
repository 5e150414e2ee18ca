#include "signature/search.h"

#include <algorithm>
#include <string_view>

#include "disk/volume.h"
#include "signature/detectors/detectors.h"
#include "signature/signature_index.h"
#include "util/text.h"

namespace restorix {

namespace {

// Runs read at once: fewer, larger reads; the runs keep their 63 sectors.
constexpr std::uint32_t kRunsPerRead = 32;

class SignatureWalk {
 public:
  SignatureWalk(const Volume& volume, ItemTree& tree, ItemNode* rawData,
                std::vector<SignatureGroup> groups, TaskControl task)
      : volume_(volume),
        tree_(tree),
        rawData_(rawData),
        groups_(std::move(groups)),
        task_(task),
        context_{volume, claims_, task.stop},
        sectorBytes_(volume.context().bytesPerSector()),
        total_(volume.context().totalSectors()) {}

  void Run() {
    if (sectorBytes_ == 0 || groups_.empty()) return;
    // As many runs as one read takes, or as the source has if fewer: a small
    // source needs no megabyte of buffer.
    const std::uint64_t runs =
        std::min<std::uint64_t>((total_ + kSearchRunSectors - 1) / kSearchRunSectors, kRunsPerRead);
    buffer_.resize(static_cast<std::size_t>(runs) * kSearchRunSectors * sectorBytes_);
    std::uint64_t run = 0;
    while (run < total_ && task_.running()) {
      if (run < bufferStart_ || run + kSearchRunSectors > bufferStart_ + bufferSectors_) Read(run);
      std::uint64_t next = run + kSearchRunSectors;
      for (std::uint32_t i = 0; i < kSearchRunSectors && task_.running();) {
        const std::uint64_t skip = TestSector(run + i);
        if (skip == 0) {
          ++i;
        } else if (i + skip < kSearchRunSectors) {
          i += static_cast<std::uint32_t>(skip);
        } else {
          next = run + i + skip;  // the file runs past this run: read on after it
          break;
        }
      }
      run = next;
    }
  }

 private:
  // Reads the runs from `sector` on, as many as the buffer holds and the
  // source still has (the last run is read whole, past the end if need be).
  void Read(std::uint64_t sector) {
    task_.events.ScanProgress(sector, total_);
    const std::uint64_t runs = (total_ - sector + kSearchRunSectors - 1) / kSearchRunSectors;
    const std::uint64_t sectors = std::min<std::uint64_t>(runs, kRunsPerRead) * kSearchRunSectors;
    volume_.ReadSectors(MutableBytes(buffer_).first(sectors * sectorBytes_), sector);
    bufferStart_ = sector;
    bufferSectors_ = sectors;
  }

  // The `length` bytes at `offset` into sector `sector`: from the buffer, or,
  // past its end, from the source.
  std::string_view BytesAt(std::uint64_t sector, std::uint32_t offset, std::uint32_t length) {
    const std::uint64_t at = (sector - bufferStart_) * sectorBytes_ + offset;
    if (at + length <= bufferSectors_ * sectorBytes_) {
      return {reinterpret_cast<const char*>(buffer_.data() + at), length};
    }
    const std::uint64_t first = sector + offset / sectorBytes_;
    const std::uint32_t within = offset % sectorBytes_;
    const std::uint32_t sectors = (within + length + sectorBytes_ - 1) / sectorBytes_;
    spill_.resize(std::size_t{sectors} * sectorBytes_);
    volume_.ReadSectors(spill_, first);
    return {reinterpret_cast<const char*>(spill_.data() + within), length};
  }

  enum class Outcome { Confirmed, Failed };

  static Outcome Dispatch(DetectorContext& context, const DetectorEntry* detector,
                          SignatureRecord& copy, std::uint64_t sector) {
    if (copy.typeCode == 0) return Outcome::Failed;
    if (detector == nullptr) return Outcome::Confirmed;  // the signature alone confirms it
    return detector->detect(context, sector, copy) != 0 ? Outcome::Confirmed : Outcome::Failed;
  }

  // Tries one entry at a sector; returns whether the sector is done with (a
  // confirmed hit, or alias items made) and the sectors to skip. `tried`
  // records that a detector with a prefilter was called.
  bool TryEntry(const IndexEntry& entry, std::uint64_t sector, bool& tried, std::uint64_t& skip) {
    const DetectorEntry* detector = entry.detector;
    const bool filtered = detector != nullptr && detector->prefilter != nullptr;
    const bool passes = !filtered || detector->prefilter(AsBytes(BytesAt(sector, 0, 2)));
    if (!passes && entry.aliases.empty()) return false;  // nothing to fall back on
    SignatureRecord copy = entry.record;
    Outcome outcome = Outcome::Failed;
    if (passes) {
      tried = tried || filtered;
      outcome = Dispatch(context_, detector, copy, sector);
    }
    if (outcome == Outcome::Confirmed) {
      Carve(sector, copy);
      skip = copy.skipLength != 0 && copy.skipValid != 0
                 ? (SkipBytes(copy) + sectorBytes_ - 1) / sectorBytes_
                 : 0;
      return true;
    }
    if (entry.aliases.empty()) return false;
    for (const std::string& alias : entry.aliases) {
      copy.SetExtension(alias);
      Carve(sector, copy);
    }
    skip = 0;
    return true;
  }

  // Tests one sector against every group; returns how many sectors the walk
  // may skip (0: go on with the next sector).
  std::uint64_t TestSector(std::uint64_t sector) {
    bool offered = false;
    bool tried = false;
    std::uint64_t skip = 0;
    for (const SignatureGroup& group : groups_) {
      if (!task_.running()) break;
      const std::string_view key = BytesAt(sector, group.sigOffset, group.sigLength);
      // A type without a fixed signature is offered the sector first; its
      // detector looks at the sector's real bytes.
      if (group.everySector != nullptr && !offered) {
        offered = true;
        if (TryEntry(*group.everySector, sector, tried, skip)) return skip;
        // Not confirmed: the sector's own bytes get a second chance in this
        // group only where the type says so and its prefilter turned it away.
        if (tried || !group.lookUpAfterRefusal) continue;
      }
      const IndexEntry* entry = group.Find(key);
      if (entry != nullptr && TryEntry(*entry, sector, tried, skip)) return skip;
    }
    return 0;
  }

  // The bytes a confirmed hit lets the walk jump over: the skip length, or
  // the whole length past 4 GiB that it stands for.
  static std::uint64_t SkipBytes(const SignatureRecord& record) {
    return record.skipLength == 0xFFFFFFFFu && record.largeSize != 0 ? record.largeSize
                                                                     : record.skipLength;
  }

  // Makes the carved item. A length that was only guessed (the type's
  // stored or assumed size) never runs over the start of the next file
  // found: garbage full of signatures would otherwise list many times the
  // source's size.
  void Carve(std::uint64_t sector, const SignatureRecord& record) {
    if (sector != guessedAt_) {
      const std::uint64_t room = (sector - guessedAt_) * sectorBytes_;
      for (ItemNode* item : guessed_) {
        if (item->size <= room) continue;
        item->claimedSize = std::max(item->claimedSize, item->size);
        item->size = room;
      }
      guessed_.clear();
    }
    ItemNode* item = AddCarvedItem(tree_, volume_.context(), rawData_, sector, record);
    if (record.detectedSize == 0 || FindDetector(record.typeCode) == nullptr) {
      guessed_.push_back(item);
      guessedAt_ = sector;
    }
  }

  static Bytes AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
  }

  const Volume& volume_;
  ItemTree& tree_;
  ItemNode* rawData_;
  std::vector<SignatureGroup> groups_;
  TaskControl task_;
  ClaimedSectors claims_;  // a new scan starts with none claimed
  DetectorContext context_;
  std::uint32_t sectorBytes_;
  std::uint64_t total_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t bufferStart_ = 0;
  std::uint64_t bufferSectors_ = 0;
  std::vector<std::uint8_t> spill_;
  std::vector<ItemNode*> guessed_;  // items carved at guessedAt_ whose length was guessed
  std::uint64_t guessedAt_ = 0;
};

// The parent id the "Raw Data" folder carries: the NTFS root's (5) on NTFS
// and on a source without a file system, the FAT16 root's (1) on FAT16,
// FAT32 and exFAT alike. Scan-information files keep it as it is.
std::uint32_t RawDataParentId(FsType fsType) {
  return fsType == FsType::None || fsType == FsType::Ntfs ? 5 : 1;
}

}  // namespace

void RunSignatureSearch(const Volume& volume, ItemTree& tree,
                        const std::vector<SignatureRecord>& searchOrder, TaskControl task) {
  ItemNode* root = tree.root();
  if (root == nullptr) return;
  ItemNode* rawData = tree.NewNode();
  rawData->name = kRawDataFolder;
  rawData->flags = ItemFlags::Live | ItemFlags::Folder;
  rawData->parentId = RawDataParentId(volume.context().fsType());
  tree.AddChild(root, rawData);
  SignatureWalk(volume, tree, rawData, BuildSignatureIndex(searchOrder), task).Run();
}

ItemNode* AddCarvedItem(ItemTree& tree, const VolumeContext& context, ItemNode* rawData,
                        std::uint64_t start, const SignatureRecord& record) {
  ItemNode* category = tree.FolderIn(rawData, Widen(record.cat()));
  ItemNode* kind = tree.FolderIn(category, Widen(record.ext()));

  ItemNode* item = tree.NewNode();
  item->name = Widen(std::to_string(start) + "." + std::string(record.ext()));
  const bool onVolume = context.fsType() != FsType::None;
  item->origin = onVolume ? ItemOrigin::CarvedVolume : ItemOrigin::CarvedRaw;
  item->location = Carved{start};
  // On FAT and exFAT the item's id is where it starts (the low 32 bits).
  if (context.fsType() == FsType::Fat16 || context.fsType() == FsType::Fat32 || context.isExfat()) {
    item->id = static_cast<std::uint32_t>(start);
  }
  // What runs past the source's end is cut once the scan is done
  // (CutClaimedSizes).
  item->size = record.largeSize      ? record.largeSize
               : record.detectedSize ? record.detectedSize
               : record.assumedSize  ? record.assumedSize
               : record.fallbackSize ? record.fallbackSize
                                     : kDefaultCarvedSize;
  tree.AddChild(kind, item);
  return item;
}

std::vector<SignatureRecord> SearchOrder(const std::vector<SignatureRecord>& chosen,
                                         std::uint32_t assumedSize) {
  std::vector<SignatureRecord> list(chosen.rbegin(), chosen.rend());
  for (SignatureRecord& record : list) {
    record.selected = 1;
    record.assumedSize = assumedSize;
    if (record.fallbackSize == 0) record.fallbackSize = 1;
  }
  return list;
}

}  // namespace restorix
