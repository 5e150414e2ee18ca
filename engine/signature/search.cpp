#include "signature/search.h"

#include <algorithm>
#include <string_view>

#include "engine.h"
#include "signature/detectors/detectors.h"
#include "signature/signature_index.h"
#include "util/text.h"

namespace restorix {

namespace {

// Runs read at once: fewer, larger reads; the runs keep their 63 sectors.
constexpr std::uint32_t kRunsPerRead = 32;

bool IsMp3(std::string_view extension) {
  return extension.size() == 3 && (extension[0] | 0x20) == 'm' && (extension[1] | 0x20) == 'p' &&
         extension[2] == '3';
}

// The child folder of `parent` named `name`, made (live folder, at the head
// of the children) when there is none.
ItemNode* FolderIn(ItemNode* parent, const std::u16string& name) {
  for (ItemNode* child = parent->firstChild; child; child = child->next) {
    if (child->isFolder() && child->name == name) return child;
  }
  auto* folder = new ItemNode;
  folder->name = name;
  folder->flags = ITEM_LIVE | ITEM_FOLDER;
  folder->parent = parent;
  folder->next = parent->firstChild;
  parent->firstChild = folder;
  return folder;
}

class SignatureWalk {
 public:
  SignatureWalk(Engine& engine, ItemNode* rawData, std::vector<SignatureGroup> groups)
      : engine_(engine),
        rawData_(rawData),
        groups_(std::move(groups)),
        context_{engine, claims_},
        sectorBytes_(engine.context.bytesPerSector()),
        total_(engine.context.totalSectors()) {}

  void Run() {
    if (sectorBytes_ == 0 || groups_.empty()) return;
    buffer_.resize(std::size_t{kRunsPerRead} * kSearchRunSectors * sectorBytes_);
    std::uint64_t run = 0;
    while (run < total_ && engine_.keepRunning != 0) {
      if (run < bufferStart_ || run + kSearchRunSectors > bufferStart_ + bufferSectors_) Read(run);
      std::uint64_t next = run + kSearchRunSectors;
      for (std::uint32_t i = 0; i < kSearchRunSectors && engine_.keepRunning != 0;) {
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
    engine_.events().ScanProgress(sector, total_);
    const std::uint64_t runs = (total_ - sector + kSearchRunSectors - 1) / kSearchRunSectors;
    const std::uint64_t sectors = std::min<std::uint64_t>(runs, kRunsPerRead) * kSearchRunSectors;
    engine_.ReadSectors(MutableBytes(buffer_).first(sectors * sectorBytes_), sector);
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
    engine_.ReadSectors(spill_, first);
    return {reinterpret_cast<const char*>(spill_.data() + within), length};
  }

  enum class Outcome { Confirmed, Failed };

  // MPEG audio is only tried where a sector starts with frame sync bits,
  // "ID" (an ID3 tag) or "RI" (RIFF).
  static bool LooksLikeAudio(std::string_view head) {
    const unsigned w = static_cast<unsigned>(static_cast<std::uint8_t>(head[0])) * 256 +
                       static_cast<std::uint8_t>(head[1]);
    return w >= 0xFFE0 || w == 0x4944 || w == 0x5249;
  }

  Outcome Dispatch(SignatureRecord& copy, std::uint64_t sector) {
    if (copy.typeCode == 0) return Outcome::Failed;
    const Detector detector = DetectorFor(copy.typeCode);
    if (detector == nullptr) return Outcome::Confirmed;  // the signature alone confirms it
    return detector(context_, sector, copy) != 0 ? Outcome::Confirmed : Outcome::Failed;
  }

  // Tries one entry at a sector; returns whether the sector is done with (a
  // confirmed hit, or alias items made) and the sectors to skip.
  bool TryEntry(const IndexEntry& entry, std::uint64_t sector, bool& audioTried,
                std::uint64_t& skip) {
    const bool audio = entry.record.typeCode == TYPE_MPEG_AUDIO;
    if (audio && !LooksLikeAudio(BytesAt(sector, 0, 2))) {
      if (entry.aliases.empty())
        return false;  // failed without a call, and nothing to fall back on
    }
    SignatureRecord copy = entry.record;
    Outcome outcome = Outcome::Failed;
    if (!audio || LooksLikeAudio(BytesAt(sector, 0, 2))) {
      audioTried = audioTried || audio;
      outcome = Dispatch(copy, sector);
    }
    if (outcome == Outcome::Confirmed) {
      AddCarvedItem(engine_, rawData_, sector, copy);
      skip = copy.skipLength != 0 && copy.skipValid != 0
                 ? (std::uint64_t{copy.skipLength} + sectorBytes_ - 1) / sectorBytes_
                 : 0;
      return true;
    }
    if (entry.aliases.empty()) return false;
    for (const std::string& alias : entry.aliases) {
      copy.SetExtension(alias);
      AddCarvedItem(engine_, rawData_, sector, copy);
    }
    skip = 0;
    return true;
  }

  // Tests one sector against every group; returns how many sectors the walk
  // may skip (0: go on with the next sector).
  std::uint64_t TestSector(std::uint64_t sector) {
    bool substituted = false;
    bool audioTried = false;
    std::uint64_t skip = 0;
    for (const SignatureGroup& group : groups_) {
      if (engine_.keepRunning == 0) break;
      const std::string_view key = BytesAt(sector, group.sigOffset, group.sigLength);
      // Within the two-byte group at offset 0 every sector is first offered
      // to MPEG audio, whose detector looks at the real first two bytes.
      if (group.mpegAudio != nullptr && !substituted) {
        substituted = true;
        if (TryEntry(*group.mpegAudio, sector, audioTried, skip)) return skip;
        // Not confirmed: an MP3 type that was not even tried gives the
        // sector's own bytes a second chance in this group.
        if (!IsMp3(group.mpegAudio->record.ext()) || audioTried) continue;
      }
      const IndexEntry* entry = group.Find(key);
      if (entry != nullptr && TryEntry(*entry, sector, audioTried, skip)) return skip;
    }
    return 0;
  }

  Engine& engine_;
  ItemNode* rawData_;
  std::vector<SignatureGroup> groups_;
  ClaimedSectors claims_;  // a new scan starts with none claimed
  DetectorContext context_;
  std::uint32_t sectorBytes_;
  std::uint64_t total_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t bufferStart_ = 0;
  std::uint64_t bufferSectors_ = 0;
  std::vector<std::uint8_t> spill_;
};

}  // namespace

std::uint32_t RunSignatureSearch(Engine& engine) {
  ItemNode* root = engine.treeRoot;
  if (root == nullptr) return engine.keepRunning;
  auto* rawData = new ItemNode;
  rawData->name = kRawDataFolder;
  rawData->flags = ITEM_LIVE | ITEM_FOLDER;
  const std::uint8_t fsType = engine.context.fsType();
  rawData->parentId = (fsType == FS_NONE || fsType == FS_NTFS) ? 5 : 1;
  rawData->parent = root;
  rawData->next = root->firstChild;
  root->firstChild = rawData;

  std::vector<SignatureGroup> groups = BuildSignatureIndex(engine.selectedTypes);
  engine.selectedTypes.clear();
  SignatureWalk(engine, rawData, std::move(groups)).Run();
  return engine.keepRunning;
}

void AddCarvedItem(Engine& engine, ItemNode* rawData, std::uint64_t start,
                   const SignatureRecord& record) {
  const VolumeContext& context = engine.context;
  ItemNode* category = FolderIn(rawData, Widen(record.cat()));
  ItemNode* kind = FolderIn(category, Widen(record.ext()));

  auto* item = new ItemNode;
  item->name = Widen(std::to_string(start) + "." + std::string(record.ext()));
  item->origin = context.fsType() == FS_NONE ? ORIGIN_CARVED_RAW : ORIGIN_CARVED_VOLUME;
  if (ItemsKeepExtents(context.fsType())) {
    item->extents.push_back({start, 0});
  } else {
    item->id = static_cast<std::uint32_t>(start);
  }
  std::uint64_t size = record.detectedSize   ? record.detectedSize
                       : record.assumedSize  ? record.assumedSize
                       : record.fallbackSize ? record.fallbackSize
                                             : kDefaultCarvedSize;
  const std::uint64_t total = context.totalSectors();
  const std::uint32_t sectorBytes = context.bytesPerSector();
  if (sectorBytes != 0 && start + size / sectorBytes > total) {
    size =
        (total > start ? total - start : 0) * sectorBytes;  // the file cannot run past the source
  }
  item->size = size;
  item->parent = kind;
  item->next = kind->firstChild;
  kind->firstChild = item;
}

std::vector<SignatureRecord> SelectTypes(
    const std::vector<SignatureRecord>& table,
    const std::function<bool(const SignatureRecord&)>& selected, std::uint32_t assumedSize) {
  std::vector<SignatureRecord> list;
  for (const SignatureRecord& record : table) {
    if (!selected(record)) continue;
    SignatureRecord copy = record;
    copy.selected = 1;
    copy.assumedSize = assumedSize;
    if (copy.fallbackSize == 0) copy.fallbackSize = 1;
    list.insert(list.begin(), copy);
  }
  return list;
}

}  // namespace restorix
