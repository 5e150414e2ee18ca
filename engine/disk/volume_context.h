// The volume geometry every reader works from: a packed 71-byte little-endian
// block that scan-information files store byte for byte.
//
// FAT and NTFS give some bytes different meanings, and two NTFS fields overlap
// the FAT data-area start, so the block is kept as its bytes and read and
// written through named accessors. Setting an NTFS field never touches the
// bytes a FAT field shares with it beyond the overlap itself. exFAT uses the
// FAT fields (one FAT, at fatStart; dataStart the cluster heap) and keeps
// its root folder's cluster where FAT keeps the second FAT, and its cluster
// size as a power of two in the first reserved byte: its clusters may hold
// more sectors than the sectors-per-cluster byte can count.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "util/bytes.h"

namespace restorix {

// The file system of a volume as its context stores it; None for a whole
// disk.
enum class FsType : std::uint8_t { None = 0, Fat16 = 1, Fat32 = 2, Ntfs = 3, Exfat = 4 };

class VolumeContext {
 public:
  static constexpr std::size_t kSize = 71;
  using Block = std::array<std::uint8_t, kSize>;

  const Block& bytes() const { return bytes_; }
  static VolumeContext Decode(Bytes block);  // reads kSize bytes; missing ones read as 0
  void Clear() { bytes_.fill(0); }

  std::uint64_t altBootSector() const { return Get<std::uint64_t>(0x00); }
  std::uint64_t firstSector() const { return Get<std::uint64_t>(0x08); }
  std::uint64_t totalSectors() const { return Get<std::uint64_t>(0x10); }
  std::uint64_t volumeSerial() const { return Get<std::uint64_t>(0x18); }  // FAT: 32 bits
  std::uint64_t fatStart() const { return Get<std::uint64_t>(0x20); }
  std::uint64_t mftCluster() const { return Get<std::uint64_t>(0x20); }
  std::uint64_t fat2Start() const { return Get<std::uint64_t>(0x28); }
  std::uint64_t mftMirrorCluster() const { return Get<std::uint64_t>(0x28); }
  std::uint64_t exfatRootCluster() const { return Get<std::uint64_t>(0x28); }
  std::uint64_t dataStart() const { return Get<std::uint64_t>(0x30); }
  std::uint8_t mftRecordSectors() const { return Get<std::uint8_t>(0x34); }
  std::uint8_t indexRecordSectors() const { return Get<std::uint8_t>(0x35); }
  std::uint32_t fatEntryCount() const { return Get<std::uint32_t>(0x38); }
  std::uint16_t fatSectors() const { return Get<std::uint16_t>(0x3C); }
  std::uint8_t fatKind() const { return Get<std::uint8_t>(0x3E); }
  std::uint8_t exfatClusterShift() const { return Get<std::uint8_t>(0x3F); }
  std::uint16_t bytesPerSector() const { return Get<std::uint16_t>(0x43); }
  std::uint8_t sectorsPerCluster() const { return Get<std::uint8_t>(0x45); }
  FsType fsType() const { return static_cast<FsType>(Get<std::uint8_t>(0x46)); }

  void setAltBootSector(std::uint64_t v) { Set(0x00, v); }
  void setFirstSector(std::uint64_t v) { Set(0x08, v); }
  void setTotalSectors(std::uint64_t v) { Set(0x10, v); }
  void setVolumeSerial(std::uint64_t v) { Set(0x18, v); }
  void setFatStart(std::uint64_t v) { Set(0x20, v); }
  void setMftCluster(std::uint64_t v) { Set(0x20, v); }
  void setFat2Start(std::uint64_t v) { Set(0x28, v); }
  void setMftMirrorCluster(std::uint64_t v) { Set(0x28, v); }
  void setExfatRootCluster(std::uint64_t v) { Set(0x28, v); }
  void setDataStart(std::uint64_t v) { Set(0x30, v); }
  void setMftRecordSectors(std::uint8_t v) { Set(0x34, v); }
  void setIndexRecordSectors(std::uint8_t v) { Set(0x35, v); }
  void setFatEntryCount(std::uint32_t v) { Set(0x38, v); }
  void setFatSectors(std::uint16_t v) { Set(0x3C, v); }
  void setFatKind(std::uint8_t v) { Set(0x3E, v); }
  void setExfatClusterShift(std::uint8_t v) { Set(0x3F, v); }
  void setBytesPerSector(std::uint16_t v) { Set(0x43, v); }
  void setSectorsPerCluster(std::uint8_t v) { Set(0x45, v); }
  void setFsType(FsType v) { Set(0x46, static_cast<std::uint8_t>(v)); }

  // Derived values used throughout the readers.
  bool isExfat() const { return fsType() == FsType::Exfat; }
  // Sectors a cluster: on exFAT up to 2^16 (32 MiB clusters of 512-byte
  // sectors), which the sectors-per-cluster byte cannot hold.
  std::uint32_t clusterSectors() const {
    return isExfat() ? std::uint32_t{1} << (exfatClusterShift() & 31) : sectorsPerCluster();
  }
  std::uint32_t clusterBytes() const {
    return static_cast<std::uint32_t>(bytesPerSector()) * clusterSectors();
  }
  std::uint32_t mftRecordBytes() const {
    return static_cast<std::uint32_t>(bytesPerSector()) * mftRecordSectors();
  }

  friend bool operator==(const VolumeContext&, const VolumeContext&) = default;

 private:
  template <typename T>
  T Get(std::size_t offset) const {
    return LoadLE<T>(bytes_, offset);
  }
  template <typename T>
  void Set(std::size_t offset, T value) {
    StoreLE<T>(bytes_, offset, value);
  }

  Block bytes_{};
};

// The absolute sector where a cluster starts (firstSector + cluster x
// sectorsPerCluster); nullopt when a forged cluster number overflows.
inline std::optional<std::uint64_t> ClusterSector(const VolumeContext& context,
                                                  std::uint64_t cluster) {
  const auto offset = CheckedMul(cluster, context.sectorsPerCluster());
  return offset ? CheckedAdd(context.firstSector(), *offset) : std::nullopt;
}

// The absolute sector just past the volume's last one.
inline std::uint64_t VolumeEndSector(const VolumeContext& context) {
  return CheckedAdd(context.firstSector(), context.totalSectors()).value_or(~std::uint64_t{0});
}

// "FAT16", "FAT32", "NTFS", "exFAT", or "none".
const char* FileSystemName(FsType fsType);

// The MFT records that `clusters` clusters hold; 0 when a forged count
// overflows or the record size is unknown.
inline std::uint64_t MftRecordsIn(std::uint64_t clusters, const VolumeContext& context) {
  const auto sectors = CheckedMul(clusters, context.sectorsPerCluster());
  return sectors && context.mftRecordSectors() ? *sectors / context.mftRecordSectors() : 0;
}

}  // namespace restorix
