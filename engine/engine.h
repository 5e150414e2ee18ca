// The engine's state: the one open source, its volume geometry, the MFT
// location, the item tree and the stop flag. The desktop program and the
// command line each own exactly one Engine; every engine operation works on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/item_tree.h"
#include "disk/sector_source.h"
#include "disk/volume_context.h"
#include "fs/ntfs_record.h"
#include "platform/file_io.h"
#include "signature/signature_record.h"
#include "task_events.h"

namespace restorix {

enum SourceKind : std::uint8_t {
  SOURCE_LOGICAL_DRIVE = 0,  // a volume: block device or image file
  SOURCE_IMAGE_FILE = 1,     // an image file made by ImageVolume
  SOURCE_PHYSICAL_DISK = 2,  // a whole disk: block device or raw disk image
};

enum class OpenFailure {
  None,
  CannotOpen,       // the path cannot be opened for reading (error holds errno)
  NoSuchPartition,  // the partition number is not in the partition table
  NotRecognised,    // no FAT16, FAT32 or NTFS boot sector
  MftNotFound,      // NTFS whose master file table cannot be located
};

struct OpenResult {
  OpenFailure failure = OpenFailure::None;
  int error = 0;
  explicit operator bool() const { return failure == OpenFailure::None; }
};

class Engine {
 public:
  Engine();
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Opens a source read-only. For a volume or image file the boot sector is
  // recognised (and the NTFS master file table located); a whole disk only
  // gets its size. A nonzero partition opens that partition of a whole-disk
  // image or device as a volume starting at its sector 0.
  OpenResult OpenSource(SourceKind kind, const std::filesystem::path& path, unsigned partition = 0);
  // The same over a source made elsewhere (tests inject faulty ones).
  OpenResult OpenSource(SourceKind kind, std::unique_ptr<SectorSource> source, std::u16string name);

  // Reads buffer.size() bytes at the absolute sector (sector x bytesPerSector).
  // Returns 0 or the errno of a failed read. The whole buffer is always
  // written: what lies past the end of the source, and what cannot be read,
  // is zeros (a failed multi-sector read is retried sector by sector so that
  // only the unreadable sectors are). Raises DeviceLostError when the device
  // has gone away.
  int ReadSectors(MutableBytes buffer, std::uint64_t sector);

  // Copies `bytes` bytes from the absolute sector straight into the file
  // `outFd`, inside the kernel where the source allows it. Bytes past the end
  // of the source are not copied. Returns 0 or an errno (ENOTSUP where there
  // is no such path); the caller then falls back to ReadSectors. Raises
  // DeviceLostError when the device has gone away.
  int CopySectors(int outFd, std::uint64_t sector, std::uint64_t bytes);

  // Closes the source and the Signature file, forgets the MFT runs, frees the
  // item tree and zeroes the volume context. sourceName is kept.
  void ResetEngine();

  // Opens the Signature file in the given folder (the program's folder by
  // default); false when it cannot be opened.
  bool OpenSignatureFile(const std::filesystem::path& folder = ProgramFolder());

  TaskEvents& events() { return *events_; }
  void SetEvents(TaskEvents* events) { events_ = events ? events : &noEvents_; }

  std::unique_ptr<SectorSource> source;
  std::u16string sourceName;
  VolumeContext context;
  std::vector<RunNode> mftRuns;
  std::uint32_t mftRecordCount = 0;
  UniqueFd signatureFile;
  // The types the next signature search looks for (it consumes them).
  std::vector<SignatureRecord> selectedTypes;
  ItemNode* treeRoot = nullptr;
  ItemIndex index;
  std::atomic<std::uint32_t> keepRunning{0};

 private:
  TaskEvents noEvents_;
  TaskEvents* events_ = &noEvents_;
};

}  // namespace restorix
