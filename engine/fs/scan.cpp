#include "fs/scan.h"

#include "fs/exfat_scan.h"
#include "fs/fat_scan.h"
#include "fs/item_reader.h"
#include "fs/ntfs_scan.h"
#include "fs/recoverability.h"
#include "platform/file_io.h"
#include "signature/search.h"

namespace restorix {

std::uint32_t RootIdFor(const VolumeContext& context) {
  switch (context.fsType()) {
    case FsType::Fat16:
      return 1;
    case FsType::Fat32:
      return 2;
    case FsType::Exfat:
      return static_cast<std::uint32_t>(context.exfatRootCluster());
    default:
      return 5;
  }
}

OpenedScan OpenScanSource(const ScanRequest& request) {
  OpenedScan scan;
  if (request.mode == ScanMode::Advanced) {
    scan.opened = Volume::Open(SourceKind::PhysicalDisk, request.source, request.partition, false,
                               request.offset);
    scan.mode = ScanMode::Advanced;
    return scan;
  }
  const bool orDisk = !request.mode && request.partition == 0 && request.offset == 0 &&
                      IsWholeDiskDevice(request.source);
  scan.opened = Volume::Open(SourceKind::LogicalDrive, request.source, request.partition, orDisk,
                             request.offset);
  const bool disk = scan.opened && scan.opened.volume->context().fsType() == FsType::None;
  scan.mode = request.mode.value_or(disk ? ScanMode::Advanced : ScanMode::DeletedFiles);
  return scan;
}

bool ScanFileSystem(const Volume& volume, ItemTree& tree, TaskControl task) {
  switch (volume.context().fsType()) {
    case FsType::Ntfs:
      ScanMft(volume, tree, task);
      return true;
    case FsType::Fat16:
    case FsType::Fat32:
      ScanFatFolderTree(volume, tree, task);
      return true;
    case FsType::Exfat:
      ScanExfatFolderTree(volume, tree, task);
      return true;
    case FsType::None:
      break;
  }
  return false;
}

void RunScan(const Volume& volume, ScanMode mode, const std::vector<SignatureRecord>& types,
             std::uint32_t assumedSize, ItemTree& tree, TaskControl task) {
  tree.StartScan(RootIdFor(volume.context()));
  // The tree is finished however the scan ends, a lost device included.
  try {
    const bool fileSystemScanned = ScanFileSystem(volume, tree, task);
    if (!fileSystemScanned || mode != ScanMode::DeletedFiles) {
      if (fileSystemScanned) task.events.TaskPhase(2, 2);
      RunSignatureSearch(volume, tree, SearchOrder(types, assumedSize), task);
    }
  } catch (...) {
    tree.FinishScan();
    throw;
  }
  tree.FinishScan();
  CutSizesAndAssess(volume, tree, task.stop, false);
}

}  // namespace restorix
