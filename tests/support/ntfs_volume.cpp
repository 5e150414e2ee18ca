#include "support/ntfs_volume.h"

#include "support/boot_sectors.h"

namespace restorix::test {

MemoryNtfsVolume::MemoryNtfsVolume(std::uint8_t spc, std::uint64_t mftClusters, std::size_t bytes)
    : spc_(spc), bytes_(bytes, 0) {
  NtfsGeometry g;
  g.sectorsPerCluster = spc;
  g.totalSectors = bytes / 512 - 1;
  g.mftCluster = kMftCluster;
  g.mftMirrorCluster = kMirrorCluster;
  Place(0, NtfsBoot(g));
  MftRecordBuilder record0(1024);
  record0.Resident(0x10, StandardInformationValue(1, 1), 0);
  record0.Resident(0x30, FileNameValue(5, u"$MFT"), 3);
  record0.NonResident(0x80, 0, mftClusters - 1,
                      EncodeRunList({{mftClusters, static_cast<std::int64_t>(kMftCluster)}}),
                      mftClusters * clusterBytes(), 6);
  Record(0, record0.Build());
}

void MemoryNtfsVolume::Record(std::uint32_t number, const std::vector<std::uint8_t>& record) {
  Place(RecordSector(number) * 512, record);
}

void MemoryNtfsVolume::Cluster(std::uint64_t cluster, const std::vector<std::uint8_t>& data) {
  Place(cluster * clusterBytes(), data);
}

void MemoryNtfsVolume::Place(std::uint64_t byte, const std::vector<std::uint8_t>& data) {
  std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(byte));
}

std::shared_ptr<FakeSource> MemoryNtfsVolume::Source() const {
  return std::make_shared<FakeSource>(bytes_);
}

OpenResult MemoryNtfsVolume::Open(FakeSource** source) const {
  auto fake = Source();
  if (source) *source = fake.get();
  return Volume::Open(SourceKind::LogicalDrive, std::move(fake), u"memory");
}

MftRecordBuilder FileRecord(std::uint16_t flags, std::uint64_t parent, const std::u16string& name,
                            std::uint64_t created) {
  MftRecordBuilder b(1024, flags);
  b.Resident(0x10, StandardInformationValue(created, created), 0);
  b.Resident(0x30, FileNameValue(parent, name), 2);
  return b;
}

}  // namespace restorix::test
