#include "disk/volume.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "disk/mount.h"
#include "disk/partitions.h"
#include "disk/rescue_map.h"
#include "platform/file_io.h"
#include "util/text.h"

namespace restorix {

namespace {
constexpr std::size_t kBootSectorBytes = 512;
constexpr std::uint64_t kOffsetUnit = 512;
constexpr std::array<std::uint32_t, 4> kSectorSizes{512, 1024, 2048, 4096};
// Large enough that the disk, not the calls, sets the pace of a read forward.
constexpr std::size_t kForwardPieceBytes = std::size_t{4} << 20;

VolumeBytesReader SourceReader(SectorSource& source) {
  return [&source](std::uint64_t offset, MutableBytes buffer) {
    const int error = source.ReadAt(buffer, offset);
    if (error == 0) return;
    if (IsDeviceLostError(error)) throw DeviceLostError(DeviceLostError::Side::Source, error);
    std::fill(buffer.begin(), buffer.end(), 0);
  };
}

// The backup boot sector FAT32 keeps at its sector 6, in whichever sector
// size the copy itself gives.
std::optional<VolumeContext> RecogniseFat32Backup(SectorSource& source, MutableBytes boot) {
  constexpr std::uint32_t kBackupSector = 6;
  for (const std::uint32_t sectorBytes : kSectorSizes) {
    if (source.ReadAt(boot, std::uint64_t{kBackupSector} * sectorBytes) != 0) continue;
    if (LooksLikeFat32(boot) && le16(boot, 0x0B) == sectorBytes &&
        le16(boot, 0x32) == kBackupSector)
      return RecogniseVolume(boot);
  }
  return std::nullopt;
}

// The exFAT backup boot region at sector 12, in whichever sector size it
// gives, when the root folder it leads to is an exFAT root.
std::optional<VolumeContext> RecogniseExfatBackup(SectorSource& source) {
  const VolumeBytesReader read = SourceReader(source);
  for (const std::uint32_t sectorBytes : kSectorSizes) {
    const auto context = ReadExfatBootRegion(read, kExfatRegionSectors, sectorBytes);
    std::u16string label;
    if (context && ExfatRootFolderOk(read, *context, label)) return context;
  }
  return std::nullopt;
}

// Whether `sector`, lying at byte `position` of a volume, is the NTFS backup
// boot sector of that volume: its count of sectors ends right there.
bool IsNtfsBackupAt(Bytes sector, std::uint64_t position) {
  if (!LooksLikeNtfs(sector) || le16(sector, 0x1FE) != 0xAA55) return false;
  const auto end = CheckedMul(le64(sector, 0x28), le16(sector, 0x0B));
  return end && *end == position;
}

// The NTFS backup boot sector of the volume at byte 0 of `source`, where
// `search` says to look for it.
std::optional<VolumeContext> RecogniseNtfsBackup(SectorSource& source, MutableBytes boot,
                                                 const BackupSearch& search) {
  const VolumeBytesReader read = SourceReader(source);
  if (search.length != 0) {
    const auto end = CheckedMul(search.length, kOffsetUnit);
    for (const std::uint32_t sectorBytes : kSectorSizes) {
      if (!end || *end < 2 * sectorBytes) break;
      read(*end - sectorBytes, boot);
      if (IsNtfsBackupAt(boot, *end - sectorBytes)) return RecogniseVolume(boot);
    }
    return std::nullopt;
  }
  if (search.task == nullptr) return std::nullopt;
  const TaskControl& task = *search.task;
  const std::uint64_t size = source.size();
  std::vector<std::uint8_t> piece(kForwardPieceBytes);
  for (std::uint64_t first = 0; first < size && task.running(); first += piece.size()) {
    read(first, piece);
    const std::size_t bytes =
        static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), size - first));
    for (std::size_t at = first == 0 ? kOffsetUnit : 0; at + kBootSectorBytes <= bytes;
         at += kOffsetUnit) {
      const Bytes sector = Bytes(piece).subspan(at, kBootSectorBytes);
      if (!IsNtfsBackupAt(sector, first + at)) continue;
      std::copy(sector.begin(), sector.end(), boot.begin());
      return RecogniseVolume(boot);
    }
    task.events.ScanProgress((first + bytes) / kOffsetUnit, size / kOffsetUnit);
  }
  return std::nullopt;
}

// The exFAT context of the main boot region when it passes its checks, else
// that of the backup region when that one does.
std::optional<VolumeContext> CheckedExfatBoot(SectorSource& source, std::uint32_t sectorBytes) {
  const VolumeBytesReader read = SourceReader(source);
  if (auto main = ReadExfatBootRegion(read, 0, sectorBytes)) return main;
  return ReadExfatBootRegion(read, kExfatRegionSectors, sectorBytes);
}
}  // namespace

Volume::Volume(std::shared_ptr<SectorSource> source, std::u16string name)
    : source_(std::move(source)), sourceName_(std::move(name)) {
}

OpenResult Volume::Open(SourceKind kind, const std::filesystem::path& path, unsigned partition,
                        bool orWholeDisk, std::uint64_t offset, const BackupSearch& backup) {
  auto opened = FileSource::Open(path);
  if (!opened.source) return {nullptr, OpenFailure::CannotOpen, opened.error};
  if (opened.source->identity().kind == SourceIdentity::Kind::File) {
    // An image with a rescue map beside it: the sectors that were never
    // copied read as unreadable, not as the zeros the image holds there.
    const auto map = LoadRescueMap(RescueMapPath(path));
    if (map && map->size() == opened.source->size()) {
      std::vector<std::pair<std::uint64_t, std::uint64_t>> unknown;
      for (const RescueBlock& block : map->blocks()) {
        if (block.status != BlockStatus::Finished)
          unknown.emplace_back(block.position, block.position + block.size);
      }
      opened.source->SetUnknown(std::move(unknown));
    }
  }
  if (partition != 0) {
    const PartitionList list = ListPartitions(path);
    const auto entry = std::find_if(
        list.entries.begin(), list.entries.end(),
        [&](const PartitionEntry& e) { return e.number == static_cast<int>(partition); });
    if (entry == list.entries.end()) return {nullptr, OpenFailure::NoSuchPartition, 0};
    opened.source->Narrow(entry->firstByte(), entry->byteLength());
  }
  FileSource& window = *opened.source;
  if (offset != 0) {
    const auto first = CheckedMul(offset, kOffsetUnit);
    if (!first || *first >= window.size()) return {nullptr, OpenFailure::NotRecognised, 0};
    window.Narrow(*first, window.size() - *first);
  }
  const bool wholeFile =
      partition == 0 && offset == 0 && window.identity().kind == SourceIdentity::Kind::File;
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(path, ec).lexically_normal();
  const std::u16string name = Utf16FromUtf8((ec ? path : absolute).string());
  const std::shared_ptr<SectorSource> source = std::move(opened.source);
  // A volume found at an offset may have been found by its backup alone.
  OpenResult result = Mount(kind, source, name, wholeFile, offset != 0 ? &backup : nullptr);
  const bool unrecognised =
      result.failure == OpenFailure::NotRecognised || result.failure == OpenFailure::MftNotFound;
  if (orWholeDisk && unrecognised) result = Mount(SourceKind::PhysicalDisk, source, name, false);
  if (result && offset != 0) {
    // A volume found at an offset ends where its boot sector says, NTFS's
    // backup boot sector after the last counted sector included.
    const VolumeContext& context = result.volume->context();
    const bool ntfs = context.fsType() == FsType::Ntfs;
    const auto sectors = CheckedAdd(result.volume->claimedSectors(), ntfs ? 1 : 0);
    const auto bytes = sectors ? CheckedMul(*sectors, context.bytesPerSector()) : std::nullopt;
    if (context.fsType() != FsType::None && bytes) window.Narrow(0, *bytes);
  }
  return result;
}

OpenResult Volume::Open(SourceKind kind, std::shared_ptr<SectorSource> source,
                        std::u16string name) {
  return Mount(kind, std::move(source), std::move(name), false);
}

OpenResult Volume::Mount(SourceKind kind, std::shared_ptr<SectorSource> source, std::u16string name,
                         bool wholeFile, const BackupSearch* backup) {
  std::shared_ptr<Volume> volume(new Volume(std::move(source), std::move(name)));
  VolumeContext& context = volume->context_;
  if (kind == SourceKind::PhysicalDisk) {
    const std::uint32_t sectorSize = volume->source_->sectorSize();
    context.setBytesPerSector(static_cast<std::uint16_t>(sectorSize));
    context.setTotalSectors(volume->source_->size() / sectorSize);
    volume->claimedSectors_ = context.totalSectors();
    return {std::move(volume)};
  }
  std::array<std::uint8_t, kBootSectorBytes> boot{};
  try {
    volume->ReadSectors(boot, 0);
  } catch (const DeviceLostError& lost) {
    return {nullptr, OpenFailure::CannotOpen, lost.error()};
  }
  std::optional<VolumeContext> recognised;
  try {
    SectorSource& from = *volume->source_;
    recognised = RecogniseVolume(boot);
    if (recognised && recognised->isExfat())
      recognised = CheckedExfatBoot(from, recognised->bytesPerSector());
    if (!recognised && backup) recognised = RecogniseFat32Backup(from, boot);
    if (!recognised && backup) recognised = RecogniseExfatBackup(from);
    if (!recognised && backup) recognised = RecogniseNtfsBackup(from, boot, *backup);
  } catch (const DeviceLostError& lost) {
    return {nullptr, OpenFailure::CannotOpen, lost.error()};
  }
  if (!recognised) return {nullptr, OpenFailure::NotRecognised, 0};
  context = *recognised;
  volume->claimedSectors_ = context.totalSectors();
  const std::uint64_t held = volume->source_->size() / context.bytesPerSector();
  if (context.totalSectors() > held) context.setTotalSectors(held);
  if (context.fsType() == FsType::Ntfs) {
    std::optional<MftLocation> mft;
    try {
      mft = LocateMft(*volume);
    } catch (const DeviceLostError&) {
      mft.reset();
    }
    if (!mft) return {nullptr, OpenFailure::MftNotFound, 0};
    volume->mftRuns_ = std::move(mft->runs);
    volume->mftRecordCount_ = mft->recordCount;
  }
  volume->imageFile_ = wholeFile && context.fsType() != FsType::None;
  return {std::move(volume)};
}

std::shared_ptr<const Volume> Volume::Detached(std::u16string name, const VolumeContext& context) {
  std::shared_ptr<Volume> volume(new Volume(nullptr, std::move(name)));
  volume->context_ = context;
  volume->claimedSectors_ = context.totalSectors();
  return volume;
}

namespace {

// Raises DeviceLostError when a read's error, or the run of failures it ends,
// means the device is gone.
void CheckLost(ReadFaults& faults, int error) {
  if (IsDeviceLostError(error)) throw DeviceLostError(DeviceLostError::Side::Source, error);
  if (error == ENODATA) return;  // sectors an image lacks say nothing of its file
  if (faults.NoteRead(error == 0)) throw DeviceLostError(DeviceLostError::Side::Source, error);
}

}  // namespace

int Volume::ReadSectorsOnce(MutableBytes buffer, std::uint64_t sector) const {
  if (!source_) {
    std::fill(buffer.begin(), buffer.end(), 0);
    return EBADF;
  }
  const auto offset = CheckedMul(sector, context_.bytesPerSector());
  const int error = offset ? source_->ReadAt(buffer, *offset) : EOVERFLOW;
  if (error == 0) return 0;
  std::fill(buffer.begin(), buffer.end(), 0);
  if (IsDeviceLostError(error)) throw DeviceLostError(DeviceLostError::Side::Source, error);
  return error;
}

int Volume::ReadSectors(MutableBytes buffer, std::uint64_t sector) const {
  const std::uint16_t sectorBytes = context_.bytesPerSector();
  const int error = ReadSectorsOnce(buffer, sector);
  if (!source_ || error == EOVERFLOW) return error;
  CheckLost(*faults_, error);
  if (error == 0) return 0;
  if (sectorBytes == 0 || buffer.size() <= sectorBytes) {
    faults_->AddUnreadable(sector, 1);
    return error;
  }

  // Salvage what can be read around a bad spot, one sector at a time, until
  // the task is stopped (the rest then stays zeros, and is not counted).
  const std::uint64_t offset = sector * sectorBytes;
  for (std::size_t done = 0; done < buffer.size() && !faults_->stopped(); done += sectorBytes) {
    const MutableBytes part =
        buffer.subspan(done, std::min<std::size_t>(sectorBytes, buffer.size() - done));
    const int partError = source_->ReadUncached(part, offset + done);
    CheckLost(*faults_, partError);
    if (partError != 0) {
      std::fill(part.begin(), part.end(), 0);
      faults_->AddUnreadable(sector + done / sectorBytes, 1);
    }
  }
  return error;
}

int Volume::CopySectors(int outFd, std::uint64_t sector, std::uint64_t bytes) const {
  if (!source_) return EBADF;
  const auto offset = CheckedMul(sector, context_.bytesPerSector());
  if (!offset) return EOVERFLOW;
  const std::uint64_t size = source_->size();
  const std::uint64_t present = *offset >= size ? 0 : std::min(bytes, size - *offset);
  const int error = present ? source_->CopyTo(outFd, *offset, present) : 0;
  if (IsDeviceLostError(error)) throw DeviceLostError(DeviceLostError::Side::Source, error);
  if (error == 0) faults_->NoteRead(true);
  return error;
}

}  // namespace restorix
