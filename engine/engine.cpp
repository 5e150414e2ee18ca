#include "engine.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "disk/mount.h"
#include "disk/partitions.h"
#include "util/text.h"

namespace restorix {

Engine::Engine() = default;

Engine::~Engine() {
  ResetEngine();
}

OpenResult Engine::OpenSource(SourceKind kind, const std::filesystem::path& path,
                              unsigned partition) {
  auto opened = FileSource::Open(path);
  if (!opened.source) return {OpenFailure::CannotOpen, opened.error};
  if (partition != 0) {
    const PartitionList list = ListPartitions(path);
    const auto entry = std::find_if(
        list.entries.begin(), list.entries.end(),
        [&](const PartitionEntry& e) { return e.number == static_cast<int>(partition); });
    if (entry == list.entries.end()) return {OpenFailure::NoSuchPartition, 0};
    opened.source->Narrow(entry->firstByte(), entry->byteLength());
  }
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(path, ec).lexically_normal();
  return OpenSource(kind, std::move(opened.source), Utf16FromUtf8((ec ? path : absolute).string()));
}

OpenResult Engine::OpenSource(SourceKind kind, std::unique_ptr<SectorSource> opened,
                              std::u16string name) {
  source = std::move(opened);
  sourceName = std::move(name);
  if (kind == SOURCE_PHYSICAL_DISK) {
    const std::uint32_t sectorSize = source->sectorSize();
    context.setBytesPerSector(static_cast<std::uint16_t>(sectorSize));
    context.setTotalSectors(source->size() / sectorSize);
    return {};
  }
  if (!MountVolume(*this)) {
    source.reset();
    return {OpenFailure::NotRecognised, 0};
  }
  if (context.fsType() == FS_NTFS) {
    bool located = false;
    try {
      located = MountNtfs(*this);
    } catch (const std::exception&) {
      located = false;
    }
    if (!located) {
      source.reset();
      return {OpenFailure::MftNotFound, 0};
    }
  }
  return {};
}

int Engine::ReadSectors(MutableBytes buffer, std::uint64_t sector) {
  const auto cleared = [&](int error) {
    std::fill(buffer.begin(), buffer.end(), 0);
    return error;
  };
  if (!source) return cleared(EBADF);
  const std::uint16_t sectorBytes = context.bytesPerSector();
  const auto offset = CheckedMul(sector, sectorBytes);
  if (!offset) return cleared(EOVERFLOW);
  const int error = source->ReadAt(buffer, *offset);
  if (error == 0) return 0;
  if (IsDeviceLostError(error)) throw DeviceLostError(DeviceLostError::Side::Source, error);
  if (sectorBytes == 0 || buffer.size() <= sectorBytes) return cleared(error);

  // Salvage what can be read around a bad spot, one sector at a time.
  for (std::size_t done = 0; done < buffer.size(); done += sectorBytes) {
    const MutableBytes part =
        buffer.subspan(done, std::min<std::size_t>(sectorBytes, buffer.size() - done));
    const int partError = source->ReadAt(part, *offset + done);
    if (IsDeviceLostError(partError)) {
      throw DeviceLostError(DeviceLostError::Side::Source, partError);
    }
    if (partError != 0) std::fill(part.begin(), part.end(), 0);
  }
  return error;
}

int Engine::CopySectors(int outFd, std::uint64_t sector, std::uint64_t bytes) {
  if (!source) return EBADF;
  const auto offset = CheckedMul(sector, context.bytesPerSector());
  if (!offset) return EOVERFLOW;
  const std::uint64_t size = source->size();
  const std::uint64_t present = *offset >= size ? 0 : std::min(bytes, size - *offset);
  const int error = present ? source->CopyTo(outFd, *offset, present) : 0;
  if (IsDeviceLostError(error)) throw DeviceLostError(DeviceLostError::Side::Source, error);
  return error;
}

void Engine::ResetEngine() {
  source.reset();
  signatureFile.reset();
  selectedTypes.clear();
  mftRuns.clear();
  mftRecordCount = 0;
  index.FreeIndex();
  FreeTree(treeRoot);
  treeRoot = nullptr;
  context.Clear();
}

bool Engine::OpenSignatureFile(const std::filesystem::path& folder) {
  signatureFile.reset(::open((folder / "Signature").c_str(), O_RDONLY | O_CLOEXEC));
  return static_cast<bool>(signatureFile);
}

}  // namespace restorix
