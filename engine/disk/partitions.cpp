#include "disk/partitions.h"

#include <blkid.h>

#include <cerrno>
#include <cstdio>

#include "platform/file_io.h"

namespace restorix {

namespace {
struct ProbeDeleter {
  void operator()(blkid_probe probe) const { blkid_free_probe(probe); }
};
}  // namespace

PartitionList ListPartitions(const std::filesystem::path& path) {
  PartitionList list;
  UniqueFd fd = OpenReadOnly(path, list.error);
  if (!fd) return list;
  std::unique_ptr<std::remove_pointer_t<blkid_probe>, ProbeDeleter> probe(blkid_new_probe());
  if (!probe || blkid_probe_set_device(probe.get(), fd.get(), 0, 0) != 0) {
    list.error = EIO;
    return list;
  }
  blkid_probe_enable_superblocks(probe.get(), 0);
  blkid_probe_enable_partitions(probe.get(), 1);
  blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_ENTRY_DETAILS);
  if (blkid_do_safeprobe(probe.get()) != 0) return list;

  blkid_partlist partitions = blkid_probe_get_partitions(probe.get());
  if (partitions == nullptr) return list;
  if (blkid_parttable table = blkid_partlist_get_table(partitions)) {
    if (const char* type = blkid_parttable_get_type(table)) list.table = type;
  }
  const int count = blkid_partlist_numof_partitions(partitions);
  for (int i = 0; i < count; ++i) {
    blkid_partition partition = blkid_partlist_get_partition(partitions, i);
    if (partition == nullptr) continue;
    PartitionEntry entry;
    entry.number = blkid_partition_get_partno(partition);
    entry.start = static_cast<std::uint64_t>(blkid_partition_get_start(partition));
    entry.length = static_cast<std::uint64_t>(blkid_partition_get_size(partition));
    if (blkid_parttable table = blkid_partition_get_table(partition)) {
      if (const char* type = blkid_parttable_get_type(table)) entry.table = type;
    }
    if (const char* typeString = blkid_partition_get_type_string(partition)) {
      entry.type = typeString;
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02x", blkid_partition_get_type(partition));
      entry.type = code;
    }
    if (const char* name = blkid_partition_get_name(partition)) entry.name = name;
    list.entries.push_back(entry);
  }
  return list;
}

}  // namespace restorix
