#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "drives/drive_lists.h"
#include "source.h"
#include "tree_output.h"

namespace restorix::cli {

namespace {

// Numbers as numbers and sizes in bytes; a fact that is not known is null.
nlohmann::ordered_json DisksJson(const DriveLists& lists) {
  const auto optional = [](const std::optional<std::uint64_t>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json();
  };
  const auto number = [](const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(std::stoull(text));
  };
  nlohmann::ordered_json json;
  json["physicalDisks"] = nlohmann::ordered_json::array();
  for (const PhysicalDiskInfo& d : lists.physicalDisks) {
    json["physicalDisks"].push_back({{"displayName", d.displayName},
                                     {"devicePath", d.devicePath},
                                     {"bytes", d.bytes},
                                     {"bytesPerSector", d.bytesPerSector},
                                     {"serialNumber", d.serialNumber},
                                     {"interfaceType", d.interfaceType},
                                     {"mediaType", d.mediaType},
                                     {"model", d.model},
                                     {"totalCylinders", number(d.totalCylinders)},
                                     {"totalHeads", number(d.totalHeads)},
                                     {"totalSectors", number(d.totalSectors)},
                                     {"partitionCount", d.partitionCount}});
  }
  json["partitions"] = nlohmann::ordered_json::array();
  for (const PartitionInfo& p : lists.partitions) {
    json["partitions"].push_back({{"displayName", p.displayName},
                                  {"devicePath", p.devicePath},
                                  {"bytes", p.bytes},
                                  {"bootPartition", p.bootPartition == "Yes"},
                                  {"type", p.type},
                                  {"primaryPartition", p.primaryPartition == "Yes"},
                                  {"logicalDiskCount", p.logicalDiskCount}});
  }
  json["logicalDisks"] = nlohmann::ordered_json::array();
  for (const LogicalDiskInfo& l : lists.logicalDisks) {
    json["logicalDisks"].push_back({{"displayName", l.displayName},
                                    {"devicePath", l.devicePath},
                                    {"mountPoint", l.mountPoint},
                                    {"bytes", l.bytes},
                                    {"volumeName", l.volumeName},
                                    {"volumeSerialNumber", l.volumeSerialNumber},
                                    {"fileSystem", l.fileSystem},
                                    {"freeBytes", optional(l.freeBytes)},
                                    {"blockBytes", optional(l.blockBytes)},
                                    {"driveType", l.driveType}});
  }
  return json;
}

void Line(int depth, const char* label, const std::string& value) {
  std::printf("%*s%s: %s\n", depth * 2, "", label, value.c_str());
}

// The lists are linked by counts only; walking them in step rebuilds the tree.
void PrintTree(const DriveLists& lists) {
  std::size_t nextPartition = 0, nextDrive = 0;
  for (const PhysicalDiskInfo& disk : lists.physicalDisks) {
    std::printf("%s\n", disk.displayName.c_str());
    Line(1, "Device", disk.devicePath);
    Line(1, "Model", disk.model);
    Line(1, "Serial Number", disk.serialNumber);
    Line(1, "Interface Type", disk.interfaceType);
    Line(1, "Media Type", disk.mediaType);
    Line(1, "Partitions", disk.partitionsText);
    Line(1, "Total Cylinders", disk.totalCylinders);
    Line(1, "Total Heads", disk.totalHeads);
    Line(1, "Total Sectors", disk.totalSectors);
    for (std::uint32_t p = 0; p < disk.partitionCount && nextPartition < lists.partitions.size();
         ++p) {
      const PartitionInfo& partition = lists.partitions[nextPartition++];
      std::printf("  %s\n", partition.displayName.c_str());
      Line(2, "Device", partition.devicePath);
      Line(2, "Type", partition.type);
      Line(2, "Boot Partition", partition.bootPartition);
      Line(2, "Primary Partition", partition.primaryPartition);
      for (std::uint32_t l = 0;
           l < partition.logicalDiskCount && nextDrive < lists.logicalDisks.size(); ++l) {
        const LogicalDiskInfo& drive = lists.logicalDisks[nextDrive++];
        std::printf("    %s\n", drive.displayName.c_str());
        Line(3, "Volume Name", drive.volumeName);
        Line(3, "File System", drive.fileSystem);
        Line(3, "Serial Number", drive.volumeSerialNumber);
        Line(3, "Free Space", drive.freeSpace);
        Line(3, "Block Size", drive.blockSize);
        Line(3, "Mount Point", drive.mountPoint);
        Line(3, "Drive Type", std::to_string(drive.driveType));
      }
    }
  }
  if (lists.physicalDisks.empty()) std::printf("No disks found.\n");
}

}  // namespace

void AddDrivesCommand(CLI::App& app, int& status) {
  auto json = std::make_shared<bool>(false);
  CLI::App* command =
      app.add_subcommand("drives", "List the disks, their partitions and the volumes on them");
  command->add_flag("--json", *json, "Print one JSON document: the three lists, linked by counts");
  command->footer(
      "Facts that need read access to a device (partition types, labels, file systems of\n"
      "volumes that are not mounted) stay empty or <N\\A> without it; run as root to see them.\n\n"
      "Example:\n  restorix drives --json");
  command->callback([json, &status] {
    const DriveLists lists = EnumerateDrives();
    if (*json) {
      PrintJson(DisksJson(lists));
    } else {
      PrintTree(lists);
    }
    if (!lists.error.empty()) {
      PrintError(lists.error);
      status = 1;
      return;
    }
    status = 0;
  });
}

}  // namespace restorix::cli
