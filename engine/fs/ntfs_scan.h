// The NTFS scan: every record of the master file table is read in disk
// order; folders (live or deleted) rebuild the folder structure, and every
// deleted file becomes an item that remembers where its $DATA attributes lie.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "catalogue/item_tree.h"
#include "task.h"
#include "util/bytes.h"

namespace restorix {

class Volume;

// Most records one read of the MFT takes.
inline constexpr std::uint32_t kMftBatchRecords = 128;
// Records 0 to 11 are the file system's own.
inline constexpr std::uint32_t kFirstUserRecord = 12;
// The record header's flags: in use, and a folder (its index is the
// folder's contents).
inline constexpr std::uint16_t kMftRecordInUse = 0x0001;
inline constexpr std::uint16_t kMftRecordIsFolder = 0x0002;

// Fills the node's flags, dates, name and parent id from a checked record.
// True when an attribute list was met before the chosen file name. A short
// (8.3) name directly followed by another file name gives way to that one.
bool ParseMftRecord(Bytes record, ItemNode& node);

// The sector of MFT record `number`, found through the MFT's runs; nullopt
// for a number past them.
std::optional<std::uint64_t> MftRecordSector(const Volume& volume, std::uint32_t number);

// Appends an extent to the node's record location (made from its id when it
// has none yet); a start of 0 clears the extents instead.
void AddExtent(ItemNode& node, std::uint64_t start, std::uint16_t length);

// Locates a deleted file's data in its own record at `sector`: each $DATA
// attribute becomes an extent (sector, attribute offset), and each further
// stream a node of its own, chained behind `node` through `next`.
void LocateDataInRecord(ItemTree& tree, Bytes record, std::uint64_t sector, ItemNode* node);

// Where a record of a given number lies; nullopt where none is known.
using RecordSectorOf = std::function<std::optional<std::uint64_t>(std::uint32_t)>;

// Locates the data of a file whose record carries an attribute list: each
// listed $DATA attribute is found by type and id in the record that holds
// it, wherever `sectorOf` says that record lies.
void LocateDataThroughList(const Volume& volume, ItemTree& tree, Bytes record, ItemNode* node,
                           const RecordSectorOf& sectorOf);

// Runs the scan over the MFT runs located when the volume was opened, adding
// folders and deleted files to the tree, whose scan has started. Reports
// progress per batch as (first record of the batch, mftRecordCount). Stops
// between batches when the task is stopped; lets DeviceLostError pass.
void ScanMft(const Volume& volume, ItemTree& tree, TaskControl task);

}  // namespace restorix
