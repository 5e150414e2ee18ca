// Finding the volumes on a disk whose partition table is gone or wrong: one
// sequential pass over the whole disk for boot sectors and their backups,
// each checked against its file system's own structures before it counts.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "disk/partitions.h"
#include "disk/volume_context.h"
#include "task.h"
#include "util/bytes.h"

namespace restorix {

class Volume;

// Positions and lengths count 512-byte units, as partition tables do, so a
// found volume's start is what --offset and a partition entry take.
inline constexpr std::uint64_t kSearchUnit = 512;

struct FoundVolume {
  std::uint64_t start = 0;    // from the start of the disk
  std::uint64_t sectors = 0;  // what the boot sector claims, its NTFS backup included
  FsType fsType = FsType::None;
  std::u16string label;
  bool primaryBoot = false;  // the boot sector at its start was seen
  bool backupBoot = false;   // a backup copy was seen
  int partition = 0;         // the partition table's entry that starts here; 0 for none
  std::uint64_t bytes() const { return sectors * kSearchUnit; }
  friend bool operator==(const FoundVolume&, const FoundVolume&) = default;
};

// Reads `buffer.size()` bytes at any byte offset of the disk; the buffer is
// cleared where nothing could be read.
void ReadDiskBytes(const Volume& disk, std::uint64_t offset, MutableBytes buffer);

// One kind of file system the search knows: how its boot sector looks, where
// its backup copy lies, and what must be found on the disk before a volume
// is believed.
struct BootRecogniser {
  FsType fsType;
  bool (*looks)(Bytes boot);
  // The volume sector that holds the backup of this boot sector; 0 when the
  // file system keeps none.
  std::uint64_t (*backupSector)(Bytes boot);
  // The volume's length in bytes as the boot sector gives it; 0 if unusable.
  std::uint64_t (*volumeBytes)(Bytes boot);
  // Checks a volume with this boot sector starting at byte `start` of the
  // disk; true when its structures are where the boot sector puts them.
  // Sets its label, when it has one.
  bool (*verify)(const Volume& disk, std::uint64_t start, Bytes boot, std::u16string& label);
};

// The file systems searched for, in the order each sector is tried.
std::span<const BootRecogniser> BootRecognisers();

// Tries the 512 bytes at byte `position` of the disk as the primary and as
// the backup boot sector of each known file system; adds what it proves to
// `found` (a volume seen again only gains the copy that was seen) and
// remembers starts that failed in `refuted`, so that they are not read
// again. Both are keyed by start (512-byte units) and file system.
struct SearchState {
  using Key = std::pair<std::uint64_t, FsType>;
  std::map<Key, FoundVolume> found;
  std::set<Key> refuted;
};
void TryBootSector(const Volume& disk, std::uint64_t position, Bytes sector, SearchState& state);

// Reads the whole disk once, in large sequential pieces, and returns the
// volumes found, by start. Reports progress in the disk's sectors; stops
// early (with what it found so far) when the task is stopped. A lost device
// (DeviceLostError) passes up.
std::vector<FoundVolume> SearchVolumes(const Volume& disk, TaskControl task);

// Names the partition-table entry that starts where each volume does.
void MarkPartitions(std::vector<FoundVolume>& volumes, const PartitionList& table);

}  // namespace restorix
