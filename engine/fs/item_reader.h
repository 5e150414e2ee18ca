// The one way to read an item's bytes, whatever found it: an NTFS stream
// (resident, in runs, sparse or LZNT1-compressed), a FAT chain or the
// consecutive clusters of a deleted FAT file, or a carved file. The recovery
// writer, the stale-scan check and the desktop program's preview read
// through it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "catalogue/item_tree.h"
#include "fs/ntfs_record.h"
#include "task.h"
#include "util/bytes.h"

namespace restorix {

class Volume;

// Where each stretch of an item's bytes comes from, in the order of the
// item's data.
struct StreamSegment {
  enum class Kind : std::uint8_t {
    Zeros,     // sparse or missing: reads as zeros
    Sectors,   // consecutive bytes of the source from `sector` on
    Resident,  // bytes kept in the record itself (`bytes`)
    Unit,      // one LZNT1 compression unit: its stored clusters (`stored`)
  };
  Kind kind = Kind::Zeros;
  std::uint64_t offset = 0;  // of the segment within the item's data
  std::uint64_t length = 0;
  std::uint64_t sector = 0;
  std::vector<std::uint8_t> bytes;
  std::vector<RunNode> stored;
};

struct StreamMap {
  std::vector<StreamSegment> segments;
  // Bytes at or past this offset read as zeros, as they do on the volume.
  std::uint64_t initialised = ~std::uint64_t{0};

  std::uint64_t length() const {
    return segments.empty() ? 0 : segments.back().offset + segments.back().length;
  }
  void Zeros(std::uint64_t length);
  void Sectors(std::uint64_t sector, std::uint64_t length);
  void Resident(Bytes bytes);
  void Unit(std::vector<RunNode> stored, std::uint64_t length);

 private:
  StreamSegment& Add(StreamSegment::Kind kind, std::uint64_t length);
};

class ItemReader {
 public:
  ItemReader(const Volume& volume, const ItemNode& item);

  // The item's size. The data may end earlier where the volume no longer
  // holds all of it.
  std::uint64_t size() const { return size_; }
  // The bytes read() gives: the size, or less where the item's data leaves
  // its volume or its runs end first.
  std::uint64_t length() const { return std::min(size_, map_.length()); }
  // Reads up to out.size() bytes from `offset` of the item's data; returns
  // how many were read (fewer only at the end, 0 past it). What cannot be
  // read from the source reads as zeros. Raises DeviceLostError when the
  // source has gone away.
  std::size_t read(std::uint64_t offset, MutableBytes out);
  // Where the bytes come from.
  const StreamMap& map() const { return map_; }

 private:
  void ReadSegment(const StreamSegment& segment, std::uint64_t within, MutableBytes out);
  Bytes DecodedUnit(const StreamSegment& segment);

  const Volume& volume_;
  std::uint64_t size_ = 0;
  StreamMap map_;
  const StreamSegment* decoded_ = nullptr;  // the unit held in unit_
  std::vector<std::uint8_t> unit_;
};

// Cuts the size of every file below the root to what its data on the volume
// holds (ItemReader::length), keeping the claim in claimedSize: a claimed
// size is never trusted, so that the listing shows, and a recovery writes,
// only what can be read. Returns early once `stop` is cleared; lets
// DeviceLostError pass. `also` sees each file with its reader once its size
// is cut, for work that needs the same map of the item's data.
void CutClaimedSizes(const Volume& volume, ItemTree& tree, const StopToken& stop,
                     const std::function<void(ItemNode&, const ItemReader&)>& also = {});

}  // namespace restorix
