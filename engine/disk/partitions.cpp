#include "disk/partitions.h"

#include <cstdio>
#include <utility>

#include "platform/blkid_probe.h"

namespace restorix {

PartitionList ListPartitions(const std::filesystem::path& path) {
  PartitionList list;
  BlkidProbe::Opened opened = BlkidProbe::Open(path);
  if (!opened.probe) {
    list.error = opened.error;
    return list;
  }
  ProbedPartitions found = opened.probe->ReadPartitions();
  list.table = std::move(found.table);
  for (ProbedPartition& probed : found.entries) {
    PartitionEntry entry;
    entry.number = probed.number;
    entry.start = probed.start;
    entry.length = probed.length;
    entry.table = std::move(probed.table);
    if (!probed.typeString.empty()) {
      entry.type = std::move(probed.typeString);
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02x", probed.typeCode);
      entry.type = code;
    }
    entry.name = std::move(probed.name);
    list.entries.push_back(std::move(entry));
  }
  return list;
}

}  // namespace restorix
