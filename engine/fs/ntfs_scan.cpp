#include "fs/ntfs_scan.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "disk/read_ahead.h"
#include "disk/volume.h"
#include "fs/attribute_list.h"
#include "fs/ntfs_record.h"
#include "util/fat_date.h"

namespace restorix {

namespace {

constexpr std::uint8_t kShortNameSpace = 2;  // the DOS 8.3 name

std::u16string FileNameOf(const Attribute& attribute) {
  const Bytes value = attribute.value();
  return Utf16FromLittleEndian(Slice(value, 0x42, 2 * std::size_t{u8(value, 0x40)}));
}

// What a record says of an item: its name, dates, folder, id and flags.
void CopyRecordFields(ItemNode& to, const ItemNode& from) {
  to.createDate = from.createDate;
  to.accessDate = from.accessDate;
  to.times = from.times;
  to.parentId = from.parentId;
  to.id = from.id;
  to.flags = from.flags;
  to.name = from.name;
}

// A node for a further data stream of the file: the same name, dates and
// folder, linked behind `previous`.
ItemNode* AppendStreamNode(ItemTree& tree, ItemNode* previous) {
  ItemNode* stream = tree.NewNode();
  CopyRecordFields(*stream, *previous);
  previous->next = stream;
  return stream;
}

}  // namespace

void LocateDataInRecord(ItemTree& tree, Bytes record, std::uint64_t sector, ItemNode* node) {
  ItemNode* current = node;
  ItemNode* previous = nullptr;
  bool taken = false;
  AttributeWalk walk(record, FirstAttributeOffset(record));
  while (const auto attribute = walk.Next()) {
    if (attribute->type() != ATTR_DATA) continue;
    const auto offset = static_cast<std::uint16_t>(attribute->offset);
    if (attribute->nonResident()) {
      if (taken && attribute->firstVcn() == 0) {
        previous = current;
        current = AppendStreamNode(tree, current);
      }
      if (attribute->firstVcn() == 0) current->size = attribute->dataSize();
      if (attribute->dataSize() != 0) AddExtent(*current, sector, offset);
      taken = true;
    } else {
      if (taken) {
        previous = current;
        current = AppendStreamNode(tree, current);
      }
      current->size = attribute->valueLength();
      if (attribute->valueLength() != 0) {
        AddExtent(*current, sector, offset);
        taken = true;
      }
    }
  }
  if (current != node && current->size == 0) {
    previous->next = nullptr;
    tree.Discard(current);
  }
}

void LocateDataThroughList(const Volume& volume, ItemTree& tree, Bytes record, ItemNode* node,
                           const RecordSectorOf& sectorOf) {
  std::optional<Attribute> list;
  for (AttributeWalk walk(record, FirstAttributeOffset(record)); auto a = walk.Next();) {
    if (a->type() == ATTR_ATTRIBUTE_LIST) {
      list = a;
      break;
    }
  }
  if (!list) return;
  const std::vector<AttributeListEntry> entries = DataEntries(ReadAttributeList(volume, *list));

  // The record an entry names, read once for a run of entries naming it.
  std::vector<std::uint8_t> holder(volume.context().mftRecordBytes());
  std::optional<std::uint32_t> held;
  std::optional<std::uint64_t> sector;  // held's sector, while it checks out
  ItemNode* current = node;
  bool handled = false;
  for (const AttributeListEntry& entry : entries) {
    if (entry.firstVcn == 0 && handled) current = AppendStreamNode(tree, current);
    handled = true;
    if (held != entry.recordNumber) {
      held = entry.recordNumber;
      sector = sectorOf(entry.recordNumber);
      if (sector) volume.ReadSectors(holder, *sector);
      if (sector && !CheckMftRecord(holder, volume.context())) sector.reset();
    }
    if (!sector) continue;

    bool stop = false;
    for (AttributeWalk walk(holder, FirstAttributeOffset(holder)); auto a = walk.Next();) {
      if (a->type() != ATTR_DATA || a->id() != entry.attributeId) continue;
      const auto offset = static_cast<std::uint16_t>(a->offset);
      if (!a->nonResident()) {
        if (a->valueLength() != 0) {
          current->size += a->valueLength();
          AddExtent(*current, *sector, offset);
        }
      } else if (a->firstVcn() == 0 && (a->lastVcn() == ~std::uint64_t{0} || a->dataSize() == 0)) {
        stop = true;  // a stream without data: nothing of this file to read
      } else {
        if (a->firstVcn() == 0) current->size = a->dataSize();
        AddExtent(*current, *sector, offset);
      }
      break;
    }
    if (stop) break;
  }
}

namespace {

class MftScan {
 public:
  MftScan(const Volume& volume, ItemTree& tree, TaskControl task)
      : volume_(volume), tree_(tree), task_(task), context_(volume.context()) {}

  void Run() {
    const std::uint32_t recordBytes = context_.mftRecordBytes();
    if (recordBytes == 0) return;
    const std::size_t batchBytes = std::size_t{kMftBatchRecords} * recordBytes;
    // Batches are read a little ahead of the parsing, up to ~2 MiB.
    ReadAhead ahead(
        volume_, task_.stop, PlanBatches(), batchBytes,
        static_cast<unsigned>(std::clamp<std::size_t>(kReadAheadBytes / batchBytes, 2, 16)));
    while (task_.running()) {
      const std::optional<ReadAhead::Read> batch = ahead.Next();
      if (!batch) break;
      const std::uint64_t index = batch->piece.tag;
      task_.events.ScanProgress(index, volume_.mftRecordCount());
      const std::size_t count = batch->bytes.size() / recordBytes;
      for (std::size_t i = 0; i < count; ++i) {
        Record(index + i, batch->piece.sector + i * context_.mftRecordSectors(),
               batch->bytes.subspan(i * recordBytes, recordBytes));
      }
    }
  }

 private:
  static constexpr std::size_t kReadAheadBytes = std::size_t{2} << 20;

  // The batches in disk order over the MFT's runs, each tagged with the
  // number of its first record.
  ReadAhead::Planner PlanBatches() const {
    struct Position {
      std::size_t run = 0;
      std::uint64_t done = 0;   // records of this run already planned
      std::uint64_t index = 0;  // record number of the next batch
    };
    return [this, at = Position{}]() mutable -> std::optional<ReadAhead::Piece> {
      for (; at.run < volume_.mftRuns().size(); ++at.run, at.done = 0) {
        const RunNode& run = volume_.mftRuns()[at.run];
        const auto first = ClusterSector(context_, run.startCluster);
        const std::uint64_t records = first ? RecordsWithinVolume(run, *first) : 0;
        if (at.done < records) {
          const std::uint64_t count = std::min<std::uint64_t>(kMftBatchRecords, records - at.done);
          const ReadAhead::Piece piece{*first + at.done * context_.mftRecordSectors(),
                                       count * context_.mftRecordBytes(), at.index};
          at.done += count;
          at.index += count;
          return piece;
        }
        // Records of the run that lie off the volume still take their numbers.
        at.index += RecordsIn(run) - records;
      }
      return std::nullopt;
    };
  }

  std::uint64_t RecordsIn(const RunNode& run) const {
    return MftRecordsIn(run.clusterCount, context_);
  }

  // A forged run can claim more records than the volume holds; only the part
  // that lies on the volume is read.
  std::uint64_t RecordsWithinVolume(const RunNode& run, std::uint64_t firstSector) const {
    const std::uint64_t end = context_.firstSector() + context_.totalSectors();
    if (firstSector >= end) return 0;
    return std::min(RecordsIn(run), (end - firstSector) / context_.mftRecordSectors());
  }

  void Record(std::uint64_t index, std::uint64_t sector, MutableBytes record) {
    if (index < kFirstUserRecord || BaseRecordReference(record) != 0) return;
    // Live files are passed over before the full check (the flags lie
    // before the first fixup position).
    const std::uint16_t flags = RecordFlags(record);
    if ((flags & kMftRecordIsFolder) == 0 && flags != 0) return;
    if (!CheckMftRecord(record, context_)) return;
    if (flags & kMftRecordIsFolder) {
      Folder(index, record);
    } else if (flags == 0) {
      DeletedFile(index, sector, record);
    }
  }

  // A node for record `index`, its fields from the record.
  ItemNode* NewRecordNode(std::uint64_t index, Bytes record) {
    ItemNode* node = tree_.NewNode();
    node->id = static_cast<std::uint32_t>(index);
    node->location = NtfsRecord{node->id, {}};
    ParseMftRecord(record, *node);
    return node;
  }

  void Folder(std::uint64_t index, Bytes record) {
    ItemNode* node = NewRecordNode(index, record);
    ItemNode* kept = tree_.RegisterFolder(node);
    if (kept != node) {
      const bool metTwice = kept->parent != nullptr;  // a damaged run list repeats a record
      // Otherwise a placeholder made earlier for this folder, now claimed.
      if (!metTwice) CopyRecordFields(*kept, *node);
      tree_.Discard(node);
      if (metTwice) return;
    }
    tree_.Adopt(kept);
  }

  void DeletedFile(std::uint64_t index, std::uint64_t sector, Bytes record) {
    ItemNode* node = tree_.NewNode();
    node->id = static_cast<std::uint32_t>(index);
    node->location = NtfsRecord{node->id, {}};
    try {
      if (ParseMftRecord(record, *node)) {
        LocateDataThroughList(volume_, tree_, record, node, [this](std::uint32_t number) {
          return MftRecordSector(volume_, number);
        });
      } else {
        LocateDataInRecord(tree_, record, sector, node);
      }
    } catch (...) {
      tree_.Discard(node);
      throw;
    }
    if (node->size == 0) {
      tree_.Discard(node);
      return;
    }
    // The node and those of the file's further streams.
    for (ItemNode* stream = node; stream != nullptr; stream = stream->next) {
      if (auto* location = std::get_if<NtfsRecord>(&stream->location))
        location->sequence = SequenceNumber(record);
    }
    tree_.Adopt(node);
  }

  const Volume& volume_;
  ItemTree& tree_;
  TaskControl task_;
  const VolumeContext& context_;
};

}  // namespace

std::optional<std::uint64_t> MftRecordSector(const Volume& volume, std::uint32_t number) {
  const VolumeContext& context = volume.context();
  std::uint64_t before = 0;
  for (const RunNode& run : volume.mftRuns()) {
    const std::uint64_t records = MftRecordsIn(run.clusterCount, context);
    if (number < before + records) {
      const auto start = ClusterSector(context, run.startCluster);
      const std::uint64_t within = (number - before) * context.mftRecordSectors();
      return start ? CheckedAdd(*start, within) : std::nullopt;
    }
    before += records;
  }
  return std::nullopt;
}

bool ParseMftRecord(Bytes record, ItemNode& node) {
  node.flags = static_cast<ItemFlags>(RecordFlags(record) & 0xFF);
  bool listSeen = false;
  AttributeWalk walk(record, FirstAttributeOffset(record));
  while (auto attribute = walk.Next()) {
    switch (attribute->type()) {
      case ATTR_STANDARD_INFORMATION: {
        const Bytes value = attribute->value();
        node.createDate = FatDateFromNtfsTime(le64(value, 0x00));
        node.accessDate = FatDateFromNtfsTime(le64(value, 0x18));
        node.times = {NtfsItemTime(le64(value, 0x00)), NtfsItemTime(le64(value, 0x08)),
                      NtfsItemTime(le64(value, 0x18))};
        break;
      }
      case ATTR_ATTRIBUTE_LIST:
        listSeen = true;
        break;
      case ATTR_FILE_NAME: {
        Attribute chosen = *attribute;
        if (u8(attribute->value(), 0x41) == kShortNameSpace) {
          if (const auto next = walk.Next(); next && next->type() == ATTR_FILE_NAME) chosen = *next;
        }
        node.name = FileNameOf(chosen);
        node.parentId = static_cast<std::uint32_t>(le64(chosen.value(), 0x00));
        return listSeen;
      }
      default:
        break;
    }
  }
  return listSeen;
}

void AddExtent(ItemNode& node, std::uint64_t start, std::uint16_t length) {
  if (!std::holds_alternative<NtfsRecord>(node.location)) node.location = NtfsRecord{node.id, {}};
  std::vector<Extent>& extents = std::get<NtfsRecord>(node.location).extents;
  if (start == 0) {
    extents.clear();
    return;
  }
  extents.push_back({start, length});
}

void ScanMft(const Volume& volume, ItemTree& tree, TaskControl task) {
  MftScan(volume, tree, task).Run();
}

}  // namespace restorix
