#include "fs/scan.h"

#include "engine.h"
#include "fs/fat_scan.h"
#include "fs/ntfs_scan.h"

namespace restorix {

std::uint32_t RootIdFor(std::uint8_t fsType) {
  switch (fsType) {
    case FS_FAT16:
      return 1;
    case FS_FAT32:
      return 2;
    default:
      return 5;
  }
}

ScanResult RunScan(Engine& engine, bool withSignatureSearch, const SignatureSearch& search) {
  ScanResult result;
  engine.index.FreeIndex();
  FreeTree(engine.treeRoot);
  const std::uint8_t fsType = engine.context.fsType();
  engine.treeRoot = MakeRootNode(RootIdFor(fsType));
  engine.index.Start(engine.treeRoot);

  try {
    bool fileSystemScanned = true;
    switch (fsType) {
      case FS_NTFS:
        ScanMft(engine);
        break;
      case FS_FAT16:
      case FS_FAT32: {
        FatScanCounters counters;
        ScanFatFolderTree(engine, engine.treeRoot, counters);
        break;
      }
      default:
        fileSystemScanned = false;
        break;
    }
    if (!fileSystemScanned || withSignatureSearch) {
      if (fileSystemScanned) engine.events().TaskPhase(2, 2);
      if (search) search(engine);
    }
  } catch (const DeviceLostError&) {
    result.deviceLost = true;
  } catch (const std::exception&) {
    // Out of memory: the scan ends here with what it found.
  }

  engine.index.AttachPlaceholders(engine.treeRoot);
  engine.index.FreeIndex();
  PruneEmptyFolders(engine.treeRoot);
  result.status = result.deviceLost ? 0 : engine.keepRunning.load();
  return result;
}

}  // namespace restorix
