#include "platform/blkid_probe.h"

#include <blkid.h>
#include <fcntl.h>

#include <cerrno>
#include <utility>

namespace restorix {

namespace {

std::string TableType(blkid_parttable table) {
  const char* type = table != nullptr ? blkid_parttable_get_type(table) : nullptr;
  return type != nullptr ? type : "";
}

}  // namespace

void BlkidProbe::FreeProbe::operator()(blkid_struct_probe* probe) const {
  blkid_free_probe(probe);
}

BlkidProbe::BlkidProbe(UniqueFd fd, std::unique_ptr<blkid_struct_probe, FreeProbe> probe)
    : fd_(std::move(fd)), probe_(std::move(probe)) {
}

BlkidProbe::Opened BlkidProbe::Open(const std::filesystem::path& path, OpenMode mode) {
  Opened opened;
  // A probe of one source goes where reading it goes (the device opener for
  // a device the program may not open itself); a survey does not wait.
  UniqueFd fd;
  if (mode == OpenMode::NonBlocking) {
    fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) opened.error = errno;
  } else {
    fd = OpenReadOnly(path, opened.error);
  }
  if (!fd) return opened;
  std::unique_ptr<blkid_struct_probe, FreeProbe> probe(blkid_new_probe());
  if (!probe || blkid_probe_set_device(probe.get(), fd.get(), 0, 0) != 0) {
    opened.error = EIO;
    return opened;
  }
  opened.probe.reset(new BlkidProbe(std::move(fd), std::move(probe)));
  return opened;
}

bool BlkidProbe::FindSuperblock() {
  blkid_probe_enable_partitions(probe_.get(), 0);
  blkid_probe_enable_superblocks(probe_.get(), 1);
  blkid_probe_set_superblocks_flags(probe_.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID |
                                                      BLKID_SUBLKS_TYPE | BLKID_SUBLKS_USAGE |
                                                      BLKID_SUBLKS_VERSION);
  return blkid_do_safeprobe(probe_.get()) == 0;
}

std::string BlkidProbe::Value(const char* name) const {
  const char* value = nullptr;
  if (blkid_probe_lookup_value(probe_.get(), name, &value, nullptr) != 0 || value == nullptr)
    return {};
  return value;
}

ProbedPartitions BlkidProbe::ReadPartitions() {
  ProbedPartitions found;
  blkid_probe_enable_superblocks(probe_.get(), 0);
  blkid_probe_enable_partitions(probe_.get(), 1);
  blkid_probe_set_partitions_flags(probe_.get(), BLKID_PARTS_ENTRY_DETAILS);
  if (blkid_do_safeprobe(probe_.get()) != 0) return found;
  blkid_partlist list = blkid_probe_get_partitions(probe_.get());
  if (list == nullptr) return found;
  found.table = TableType(blkid_partlist_get_table(list));
  const int count = blkid_partlist_numof_partitions(list);
  for (int i = 0; i < count; ++i) {
    blkid_partition partition = blkid_partlist_get_partition(list, i);
    if (partition == nullptr) continue;
    ProbedPartition entry;
    entry.number = blkid_partition_get_partno(partition);
    entry.start = static_cast<std::uint64_t>(blkid_partition_get_start(partition));
    entry.length = static_cast<std::uint64_t>(blkid_partition_get_size(partition));
    entry.table = TableType(blkid_partition_get_table(partition));
    entry.typeCode = blkid_partition_get_type(partition);
    if (const char* guid = blkid_partition_get_type_string(partition)) entry.typeString = guid;
    if (const char* name = blkid_partition_get_name(partition)) entry.name = name;
    entry.flags = blkid_partition_get_flags(partition);
    entry.primary = blkid_partition_is_primary(partition) != 0;
    entry.extended = blkid_partition_is_extended(partition) != 0;
    found.entries.push_back(std::move(entry));
  }
  return found;
}

}  // namespace restorix
