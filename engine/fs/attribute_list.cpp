#include "fs/attribute_list.h"

#include <algorithm>

#include "disk/volume.h"

namespace restorix {

namespace {
// No real attribute list comes near this; it bounds what a forged one costs.
constexpr std::uint64_t kMaxAttributeListBytes = 1 << 20;
}  // namespace

std::vector<std::uint8_t> ReadAttributeList(const Volume& volume, const Attribute& list) {
  if (!list.nonResident()) {
    const Bytes bytes = Slice(list.bytes(), list.valueOffset(), list.length());
    return {bytes.begin(), bytes.end()};
  }
  const VolumeContext& context = volume.context();
  const std::uint64_t wanted = std::min(list.dataSize(), kMaxAttributeListBytes);
  std::vector<RunNode> runs;
  DecodeRunList(list.bytes(), list.runListOffset(), runs);

  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t> cluster(context.clusterBytes());
  for (const RunNode& run : runs) {
    for (std::uint64_t i = 0; i < run.clusterCount && bytes.size() < wanted; ++i) {
      std::fill(cluster.begin(), cluster.end(), 0);
      if (run.startCluster != 0) {
        const auto number = CheckedAdd(run.startCluster, i);
        const auto sector = number ? ClusterSector(context, *number) : std::nullopt;
        if (sector) volume.ReadSectors(cluster, *sector);
      }
      bytes.insert(bytes.end(), cluster.begin(), cluster.end());
    }
    if (bytes.size() >= wanted) break;
  }
  bytes.resize(std::min<std::uint64_t>(bytes.size(), wanted));
  return bytes;
}

std::vector<AttributeListEntry> DataEntries(Bytes list) {
  std::vector<AttributeListEntry> entries;
  std::size_t offset = 0;
  while (const auto entry = ReadAttributeListEntry(list, offset)) {
    if (entry->type > ATTR_DATA || !IsValidAttributeType(entry->type)) break;
    if (entry->type == ATTR_DATA) entries.push_back(*entry);
    offset += entry->length;
  }
  return entries;
}

}  // namespace restorix
