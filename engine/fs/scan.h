// The scan driver: what a front end asks for, and the one call that turns
// the opened source into a finished item tree.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "catalogue/item_tree.h"
#include "disk/volume.h"
#include "signature/signature_record.h"
#include "task.h"

namespace restorix {

enum class ScanMode : std::uint8_t {
  DeletedFiles,  // the file system's own structures of a volume
  Format,        // the same, then a signature search over the whole volume
  Advanced,      // a signature search alone, over a whole disk
};

// What a front end asks to be scanned, and how.
struct ScanRequest {
  std::filesystem::path source;
  unsigned partition = 0;  // a partition of a whole-disk image or device, from 1
  // Where the volume starts, in 512-byte units from the start of the source
  // (or of the partition): a volume that no partition table lists.
  std::uint64_t offset = 0;
  // Unset: a whole-disk device that holds no volume of its own is searched
  // as a disk (Advanced); anything else is scanned as a volume.
  std::optional<ScanMode> mode;
  // The types a signature search looks for, in the order of the type table.
  std::vector<SignatureRecord> types;
  // The length given to a carved file whose length cannot be worked out.
  std::uint32_t assumedSize = 1024;
};

struct OpenedScan {
  OpenResult opened;
  ScanMode mode = ScanMode::DeletedFiles;
};

// Opens the request's source, once, the way its mode needs it.
OpenedScan OpenScanSource(const ScanRequest& request);

// The file-system scan that fsType calls for (NTFS, FAT or exFAT) into a
// started tree; false, having done nothing, for a source without a file
// system.
bool ScanFileSystem(const Volume& volume, ItemTree& tree, TaskControl task);

// Builds the tree: the root ".", then the file-system scan that fsType calls
// for (NTFS, FAT or exFAT), then, for Format and Advanced (and always on a source
// without a file system), the signature search for `types`. Whatever
// happens, the tree is finished afterwards: placeholders hung under the
// root, folders without files pruned. A lost device (DeviceLostError) passes
// up once the tree is finished. A scan that ran to its end has its claimed
// sizes cut to what the volume holds and every deleted file its
// recoverability verdict (CutSizesAndAssess).
void RunScan(const Volume& volume, ScanMode mode, const std::vector<SignatureRecord>& types,
             std::uint32_t assumedSize, ItemTree& tree, TaskControl task);

// The root id of each file system: 5 for NTFS and for a source without one,
// 1 for FAT16, 2 for FAT32, the root folder's first cluster for exFAT.
std::uint32_t RootIdFor(const VolumeContext& context);

}  // namespace restorix
