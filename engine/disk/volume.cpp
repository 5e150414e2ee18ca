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

// The backup boot sector FAT32 keeps at its sector 6, in whichever sector
// size the copy itself gives.
std::optional<VolumeContext> RecogniseFat32Backup(SectorSource& source, MutableBytes boot) {
  constexpr std::uint32_t kBackupSector = 6;
  for (const std::uint32_t sectorBytes : {512u, 1024u, 2048u, 4096u}) {
    if (source.ReadAt(boot, std::uint64_t{kBackupSector} * sectorBytes) != 0) continue;
    if (LooksLikeFat32(boot) && le16(boot, 0x0B) == sectorBytes &&
        le16(boot, 0x32) == kBackupSector)
      return RecogniseVolume(boot);
  }
  return std::nullopt;
}
}  // namespace

Volume::Volume(std::shared_ptr<SectorSource> source, std::u16string name)
    : source_(std::move(source)), sourceName_(std::move(name)) {
}

OpenResult Volume::Open(SourceKind kind, const std::filesystem::path& path, unsigned partition,
                        bool orWholeDisk, std::uint64_t offset) {
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
  OpenResult result = Mount(kind, source, name, wholeFile, offset != 0);
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
                         bool wholeFile, bool orBackup) {
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
  std::optional<VolumeContext> recognised = RecogniseVolume(boot);
  if (!recognised && orBackup) recognised = RecogniseFat32Backup(*volume->source_, boot);
  if (recognised && recognised->isExfat()) {
    try {
      recognised = volume->CheckedExfatBoot(*recognised);
    } catch (const DeviceLostError& lost) {
      return {nullptr, OpenFailure::CannotOpen, lost.error()};
    }
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

std::optional<VolumeContext> Volume::CheckedExfatBoot(const VolumeContext& main) {
  // The backup boot region follows the main one; it stands in when the main
  // one fails its checksum.
  constexpr std::uint64_t kRegionSectors = 12;
  const std::uint32_t sectorBytes = main.bytesPerSector();
  std::vector<std::uint8_t> region(kRegionSectors * sectorBytes);
  context_ = main;
  ReadSectors(region, 0);
  if (ExfatBootRegionOk(region, sectorBytes)) return main;
  ReadSectors(region, kRegionSectors);
  const std::optional<VolumeContext> backup = RecogniseVolume(region);
  if (backup && backup->isExfat() && backup->bytesPerSector() == sectorBytes &&
      ExfatBootRegionOk(region, sectorBytes)) {
    return backup;
  }
  return std::nullopt;
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
