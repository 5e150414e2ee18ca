// The opened source: a block device, an image file, or a window over one (a
// partition of a whole disk), with its volume geometry and, for NTFS, where
// the master file table lies. Made by one open call that succeeds whole or
// fails with a reason, and unchanged afterwards. Reads go through pread, so
// any number of threads may read one Volume at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "disk/read_faults.h"
#include "disk/sector_source.h"
#include "disk/volume_context.h"
#include "fs/ntfs_record.h"
#include "task.h"

namespace restorix {

enum class SourceKind : std::uint8_t {
  LogicalDrive,  // a volume: block device or image file
  ImageFile,     // an image file made by ImageVolume
  PhysicalDisk,  // a whole disk: block device or raw disk image
};

enum class OpenFailure {
  None,
  CannotOpen,       // the path cannot be opened for reading (error holds errno)
  NoSuchPartition,  // the partition number is not in the partition table
  NotRecognised,    // no FAT16, FAT32, exFAT or NTFS boot sector
  MftNotFound,      // NTFS whose master file table cannot be located
  OtherVolume,      // a saved scan's source opened, but it is not the scanned volume
};

class Volume;

// How a volume at an offset whose own boot sector is gone is found from its
// NTFS backup, the volume's last sector (FAT32 and exFAT keep theirs near
// the start, where they are always tried).
struct BackupSearch {
  // The volume's length in 512-byte units, its last sector included, when
  // it is known (the volume search found it, a saved scan kept it): the
  // backup is looked for there alone.
  std::uint64_t length = 0;
  // Else, with a task, the source is read forward from the offset to its end
  // for the NTFS boot sector whose count of sectors ends where it lies; the
  // task's token stops the reading, its events get the progress (in
  // 512-byte units). Without either, no NTFS backup is looked for.
  const TaskControl* task = nullptr;
};

struct OpenResult {
  std::shared_ptr<const Volume> volume;
  OpenFailure failure = OpenFailure::None;
  int error = 0;
  explicit operator bool() const { return volume != nullptr; }
};

class Volume {
 public:
  // Opens a source read-only. A volume or image file has its boot sector
  // recognised (and the NTFS master file table located); a whole disk only
  // gets its size. A nonzero partition opens that partition of a whole-disk
  // image or device as a volume starting at its sector 0. With `orWholeDisk`,
  // a volume whose file system is not recognised is opened as a whole disk.
  // A nonzero `offset` (512-byte units, as partition tables count) opens the
  // volume that starts there, inside the partition when one is given; the
  // source is then seen as the volume's own bytes only, so that its identity
  // names them. A volume at an offset may also be opened from the backup of
  // its boot sector: FAT32's at sector 6, exFAT's boot region at sector 12,
  // NTFS's at its end as `backup` says.
  static OpenResult Open(SourceKind kind, const std::filesystem::path& path, unsigned partition = 0,
                         bool orWholeDisk = false, std::uint64_t offset = 0,
                         const BackupSearch& backup = {});
  // The same over a source made elsewhere (tests inject faulty ones).
  static OpenResult Open(SourceKind kind, std::shared_ptr<SectorSource> source,
                         std::u16string name);
  // What a saved scan knows of its source when the source itself cannot be
  // opened: its name and geometry. Every read fails (EBADF) and reads zeros.
  static std::shared_ptr<const Volume> Detached(std::u16string name, const VolumeContext& context);

  // Reads buffer.size() bytes at the absolute sector (sector x
  // bytesPerSector). Returns 0 or the errno of a failed read. The whole
  // buffer is always written: what lies past the end of the source, and what
  // cannot be read, is zeros (a failed multi-sector read is retried sector by
  // sector so that only the unreadable sectors are). The unreadable sectors
  // are recorded in faults(). An image file with a rescue map beside it
  // (RescueMapPath) fails with ENODATA on the sectors the map does not have
  // as copied. Raises DeviceLostError when the device has gone away, or
  // fails every read (ReadFaults).
  int ReadSectors(MutableBytes buffer, std::uint64_t sector) const;
  // One read of the sectors, without the retry, the record of unreadable
  // sectors or the count of failures in a row (imaging keeps its own); what
  // cannot be read is zeros. Raises DeviceLostError when the read's error
  // says the device is gone.
  int ReadSectorsOnce(MutableBytes buffer, std::uint64_t sector) const;

  // Copies `bytes` bytes from the absolute sector straight into the file
  // `outFd`, inside the kernel where the source allows it. Bytes past the end
  // of the source are not copied. Returns 0 or an errno (ENOTSUP where there
  // is no such path); the caller then falls back to ReadSectors. Raises
  // DeviceLostError when the device has gone away.
  int CopySectors(int outFd, std::uint64_t sector, std::uint64_t bytes) const;

  const VolumeContext& context() const { return context_; }
  // The read faults of the task that runs on the volume now.
  ReadFaults& faults() const { return *faults_; }
  // The sectors the boot sector claims. A volume is never larger than its
  // source: where the claim is larger, totalSectors holds what the source
  // has.
  std::uint64_t claimedSectors() const { return claimedSectors_; }
  const std::vector<RunNode>& mftRuns() const { return mftRuns_; }
  std::uint32_t mftRecordCount() const { return mftRecordCount_; }
  // The source's full path (at most what a scan-information file keeps).
  const std::u16string& sourceName() const { return sourceName_; }
  bool isOpen() const { return source_ != nullptr; }
  // Where the source lives; empty for a detached volume.
  SourceIdentity identity() const { return source_ ? source_->identity() : SourceIdentity{}; }
  // A whole regular file that holds a volume: an image of a logical drive.
  bool isImageFile() const { return imageFile_; }

 private:
  Volume(std::shared_ptr<SectorSource> source, std::u16string name);
  // With `backup`, a volume whose boot sector is unreadable is mounted from
  // a backup copy.
  static OpenResult Mount(SourceKind kind, std::shared_ptr<SectorSource> source,
                          std::u16string name, bool wholeFile,
                          const BackupSearch* backup = nullptr);

  std::shared_ptr<SectorSource> source_;
  std::shared_ptr<ReadFaults> faults_ = std::make_shared<ReadFaults>();
  std::u16string sourceName_;
  VolumeContext context_;
  std::uint64_t claimedSectors_ = 0;
  std::vector<RunNode> mftRuns_;
  std::uint32_t mftRecordCount_ = 0;
  bool imageFile_ = false;
};

}  // namespace restorix
