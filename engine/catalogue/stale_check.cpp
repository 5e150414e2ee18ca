#include "catalogue/stale_check.h"

#include <algorithm>

#include "disk/volume.h"
#include "fs/fat_data.h"
#include "fs/ntfs_old_records.h"
#include "fs/ntfs_record.h"
#include "fs/ntfs_scan.h"
#include "signature/detectors/detectors.h"
#include "signature/signature_file.h"
#include "util/text.h"

namespace restorix {

namespace {

constexpr std::size_t kEntryBytes = 32;
constexpr std::uint8_t kDeletedMark = 0xE5;
constexpr std::uint8_t kAttributeFolder = 0x10;
constexpr std::uint8_t kAttributeLongName = 0x0F;

}  // namespace

StaleItemCheck::StaleItemCheck(const Volume& volume,
                               std::optional<std::vector<SignatureRecord>> signatures)
    : volume_(volume), signatures_(std::move(signatures)) {
}

bool StaleItemCheck::Check(const ItemNode& item, bool firstCluster) {
  if (item.isFolder()) return false;
  if (const auto* carved = std::get_if<Carved>(&item.location)) {
    return CarvedChanged(item, carved->firstSector);
  }
  if (const auto* record = std::get_if<NtfsRecord>(&item.location)) {
    return NtfsChanged(item, *record);
  }
  if (const auto* chain = std::get_if<FatChain>(&item.location)) {
    return volume_.context().isExfat() ? ExfatChanged(item, *chain, firstCluster)
                                       : FatChanged(item, chain->firstCluster, firstCluster);
  }
  return false;
}

bool StaleItemCheck::NtfsChanged(const ItemNode& item, const NtfsRecord& record) {
  const VolumeContext& c = volume_.context();
  // An item of an old MFT that a format left in the data area lies in that
  // old record, which its first extent names; the record may have been in
  // use when the volume was formatted.
  const bool old = !record.extents.empty() && !InCurrentMft(volume_, record.extents.front().start);
  const auto base =
      old ? std::optional(record.extents.front().start) : MftRecordSector(volume_, record.number);
  buffer_.assign(c.mftRecordBytes(), 0);
  if (!base || buffer_.empty()) return true;
  volume_.ReadSectors(buffer_, *base);
  if (!CheckMftRecord(buffer_, c)) return true;
  const bool own = BaseRecordReference(buffer_) == 0;
  if (own && record.sequence && SequenceNumber(buffer_) != *record.sequence) return true;
  if (old) {
    // Its own record, or an extension record of it (an attribute list's).
    if (OwnRecordNumber(buffer_).value_or(record.number) != record.number &&
        (BaseRecordReference(buffer_) & 0xFFFFFFFFFFFF) != record.number) {
      return true;
    }
  } else if (!own || RecordFlags(buffer_) != 0) {
    // Still a deleted file's own record: a record the volume has given to a
    // new file is in use, or was freed again with another sequence number,
    // folder or creation date.
    return true;
  }
  if (own) {
    ItemNode now;
    ParseMftRecord(buffer_, now);
    if ((!old && now.parentId != item.parentId) || now.createDate != item.createDate) return true;
  }

  const std::uint64_t size = item.claimedSize != 0 ? item.claimedSize : item.size;
  std::vector<std::uint8_t> other;  // a further record that holds a piece of the data
  for (const Extent& extent : record.extents) {
    Bytes holder = buffer_;
    if (extent.start != *base) {
      other.assign(buffer_.size(), 0);
      volume_.ReadSectors(other, extent.start);
      if (!CheckMftRecord(other, c) || (!old && (RecordFlags(other) & kMftRecordInUse) != 0))
        return true;
      holder = other;
    }
    const Attribute data{holder, extent.length};
    if (data.type() != ATTR_DATA) return true;
    // Where the stream starts, it still claims the scan's size (resident
    // pieces that an attribute list names add up: only a lone one is
    // compared).
    if (&extent == &record.extents.front()) {
      const bool resident = !data.nonResident();
      const bool compared = resident ? record.extents.size() == 1 : data.firstVcn() == 0;
      if (compared && (resident ? data.valueLength() : data.dataSize()) != size) return true;
    }
  }
  return false;
}

bool StaleItemCheck::FatChanged(const ItemNode& item, std::uint32_t firstCluster,
                                bool checkCluster) {
  const std::uint64_t size = item.claimedSize != 0 ? item.claimedSize : item.size;
  // Inside a deleted folder the scan took live entries as deleted too.
  const bool inDeletedFolder = item.parent != nullptr && item.parent->flags == ItemFlags::Folder;
  const auto& entries = FatFolder(item.parentId);
  const auto entry = std::find_if(entries.begin(), entries.end(), [&](const FatEntry& e) {
    return e.firstCluster == firstCluster && e.size == size && (e.deleted || inDeletedFolder);
  });
  if (entry == entries.end()) return true;
  // A new file can take a deleted file's clusters and leave its entry be:
  // the deleted file's first cluster is then no longer free.
  return checkCluster && (entry->deleted || inDeletedFolder) &&
         ReadFatEntry(volume_, firstCluster).value_or(1) != 0;
}

const std::vector<StaleItemCheck::FatEntry>& StaleItemCheck::FatFolder(std::uint32_t id) {
  const auto [found, added] = fatFolders_.try_emplace(id);
  std::vector<FatEntry>& entries = found->second;
  if (!added) return entries;
  // A folder whose first cluster is free is read as the scan read it: on
  // into the clusters after it while they go on with its entries.
  const bool fixedRoot = volume_.context().fsType() == FsType::Fat16 && id == 1;
  const bool unchained = !fixedRoot && ReadFatEntry(volume_, id).value_or(1) == 0;
  (unchained ? ReadFatFolderOnward : ReadFatFolderBuffers)(volume_, id, [&](Bytes buffer) {
    for (std::size_t o = 0; o + kEntryBytes <= buffer.size(); o += kEntryBytes) {
      const Bytes entry = buffer.subspan(o, kEntryBytes);
      if (entry[0] == 0) return true;  // the end of the folder
      const std::uint8_t attribute = entry[11];
      if (attribute == kAttributeLongName || (attribute & kAttributeFolder) != 0) continue;
      entries.push_back({FatFirstCluster(entry), le32(entry, 28), entry[0] == kDeletedMark});
    }
    return false;
  });
  return entries;
}

bool StaleItemCheck::ExfatChanged(const ItemNode& item, const FatChain& chain, bool checkCluster) {
  const ItemNode* folder = item.parent;
  if (folder == nullptr) return true;
  const auto [found, added] = exfatFolders_.try_emplace(folder);
  if (added) {
    const VolumeContext& c = volume_.context();
    const auto* folderChain = std::get_if<FatChain>(&folder->location);
    const bool root = folder->parent == nullptr;
    const auto first = root          ? static_cast<std::uint32_t>(c.exfatRootCluster())
                       : folderChain ? folderChain->firstCluster
                                     : 0;
    found->second =
        ParseExfatFolder(ReadExfatFolder(volume_, first, folderChain && folderChain->contiguous,
                                         root ? std::nullopt : std::optional(folder->size)));
  }
  const std::uint64_t size = item.claimedSize != 0 ? item.claimedSize : item.size;
  const bool inDeletedFolder = folder->flags == ItemFlags::Folder;
  const auto& sets = found->second;
  const auto set = std::find_if(sets.begin(), sets.end(), [&](const ExfatEntrySet& s) {
    return s.firstCluster == chain.firstCluster && s.size == size && s.name == item.name &&
           (s.deleted || inDeletedFolder);
  });
  if (set == sets.end()) return true;
  if ((!set->deleted && !inDeletedFolder) || !checkCluster) return false;
  if (!exfatBitmap_) exfatBitmap_ = ExfatBitmap::Load(volume_);
  return exfatBitmap_->InUse(chain.firstCluster).value_or(false);
}

bool StaleItemCheck::CarvedChanged(const ItemNode& item, std::uint64_t firstSector) {
  // Carved items lie in "Raw Data"/<category>/<extension>. One whose type
  // nothing names (no such folders, no row of the type table, no table)
  // cannot be checked, and is written as before.
  const ItemNode* kind = item.parent;
  const ItemNode* category = kind != nullptr ? kind->parent : nullptr;
  if (category == nullptr) return false;
  if (!signatures_) signatures_ = LoadSignatureFile().value_or(std::vector<SignatureRecord>{});
  std::vector<const SignatureRecord*> types;
  for (const SignatureRecord& r : *signatures_)
    if (Widen(r.ext()) == kind->name) types.push_back(&r);
  // A detector may have filed it under an extension of its own (a compound
  // document as xls or ppt).
  if (types.empty()) {
    for (const SignatureRecord& r : *signatures_)
      if (Widen(r.cat()) == category->name) types.push_back(&r);
  }
  const std::uint32_t sectorBytes = volume_.context().bytesPerSector();
  if (types.empty() || sectorBytes == 0) return false;

  std::size_t reach = 2;  // the two bytes a prefilter looks at
  for (const SignatureRecord* t : types)
    reach = std::max<std::size_t>(reach, std::size_t{t->sigOffset} + t->sigLength);
  buffer_.assign((reach + sectorBytes - 1) / sectorBytes * sectorBytes, 0);
  volume_.ReadSectors(buffer_, firstSector);
  const Bytes head = buffer_;
  return std::none_of(types.begin(), types.end(), [&](const SignatureRecord* t) {
    const Bytes signature = t->signature();
    const Bytes there = Slice(head, t->sigOffset, signature.size());
    if (!signature.empty() &&
        std::equal(there.begin(), there.end(), signature.begin(), signature.end())) {
      return true;
    }
    // A type without a fixed signature (MPEG audio frames) is known by the
    // bytes its prefilter looks at.
    const DetectorEntry* detector = FindDetector(t->typeCode);
    return detector != nullptr && detector->everySector && detector->prefilter != nullptr &&
           detector->prefilter(head.first(2));
  });
}

}  // namespace restorix
