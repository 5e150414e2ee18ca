#include <cstdio>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "commands.h"
#include "disk/partitions.h"
#include "disk/volume_search.h"
#include "progress.h"
#include "source.h"
#include "tree_output.h"
#include "util/size_text.h"
#include "util/text.h"

namespace restorix::cli {

namespace {

// The file system found in one partition, or "none".
std::string RecogniseFileSystem(const std::string& path, int number) {
  const OpenResult result =
      Volume::Open(SourceKind::LogicalDrive, path, static_cast<unsigned>(number));
  return result ? FileSystemName(result.volume->context().fsType()) : "none";
}

// The volumes found by reading the whole disk, or nullopt (explained) when
// it could not be read through or was stopped; what was found before a stop
// is still returned.
struct Searched {
  std::vector<FoundVolume> volumes;
  bool completed = false;
};

std::optional<Searched> SearchDisk(const std::string& path, const PartitionList& table) {
  const OpenResult disk = Volume::Open(SourceKind::PhysicalDisk, path);
  if (!disk) {
    PrintError("cannot open '" + path + "': " + std::strerror(disk.error));
    return std::nullopt;
  }
  StopToken stop;
  StopOnInterrupt(&stop);
  if (Interrupted()) stop.RequestStop();
  Searched searched;
  {
    ProgressLine progress("Searching for volumes", "sectors",
                          disk.volume->context().bytesPerSector());
    try {
      searched.volumes = SearchVolumes(*disk.volume, {stop, progress});
      searched.completed = stop.running();
    } catch (const DeviceLostError& lost) {
      progress.Finish();
      StopOnInterrupt(nullptr);
      PrintError("the disk is no longer available: " + std::string(std::strerror(lost.error())));
      return std::nullopt;
    }
    progress.Finish();
  }
  StopOnInterrupt(nullptr);
  if (!searched.completed) PrintError("the search was stopped; what it found so far is listed");
  MarkPartitions(searched.volumes, table);
  return searched;
}

nlohmann::ordered_json VolumesJson(const std::vector<FoundVolume>& volumes) {
  auto json = nlohmann::ordered_json::array();
  for (const FoundVolume& v : volumes) {
    json.push_back({{"start", v.start},
                    {"sectors", v.sectors},
                    {"bytes", v.bytes()},
                    {"fileSystem", FileSystemName(v.fsType)},
                    {"label", Utf8FromUtf16(v.label)},
                    {"primaryBootSector", v.primaryBoot},
                    {"backupBootSector", v.backupBoot},
                    {"partition", v.partition ? nlohmann::ordered_json(v.partition)
                                              : nlohmann::ordered_json()}});
  }
  return json;
}

void PrintVolumes(const std::string& path, const std::vector<FoundVolume>& volumes) {
  if (volumes.empty()) {
    std::printf("\nNo FAT16, FAT32 or NTFS volume found on '%s'.\n", path.c_str());
    return;
  }
  std::printf("\nVolumes found by their boot sectors:\n");
  std::printf("%12s  %12s  %12s  %-6s  %-16s %-15s %s\n", "Start", "Sectors", "Size", "FS", "Label",
              "Boot sector", "Partition");
  for (const FoundVolume& v : volumes) {
    const char* boot = v.primaryBoot ? (v.backupBoot ? "both" : "primary") : "backup only";
    const std::string partition = v.partition ? std::to_string(v.partition) : "none (lost)";
    std::printf("%12llu  %12llu  %12s  %-6s  %-16s %-15s %s\n",
                static_cast<unsigned long long>(v.start),
                static_cast<unsigned long long>(v.sectors), SizeText(v.bytes()).c_str(),
                FileSystemName(v.fsType), Printable(Utf8FromUtf16(v.label)).c_str(), boot,
                partition.c_str());
  }
  std::printf("\nScan one with: restorix scan %s --offset START\n", path.c_str());
}

}  // namespace

void AddPartitionsCommand(CLI::App& app, int& status) {
  struct Options {
    std::string path;
    bool json = false;
    bool search = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command =
      app.add_subcommand("partitions", "List the partitions of a whole disk or disk image");
  command->add_option("IMAGE", options->path, "Whole-disk block device or disk image")->required();
  command->add_flag("--search", options->search,
                    "Also read the whole disk for FAT16, FAT32 and NTFS volumes by their boot "
                    "sectors and backups, the partition table's or not");
  command->add_flag("--json", options->json, "Print one JSON document");
  command->footer(
      "Example:\n  restorix partitions disk.img\n  restorix partitions /dev/sdb --search");
  command->callback([options, &status] {
    const PartitionList list = ListPartitions(options->path);
    if (list.error != 0) {
      PrintError("cannot open '" + options->path + "': " + std::strerror(list.error));
      status = 1;
      return;
    }
    nlohmann::ordered_json json;
    json["source"] = options->path;
    json["table"] =
        list.table.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(list.table);
    json["partitions"] = nlohmann::ordered_json::array();
    for (const PartitionEntry& entry : list.entries) {
      json["partitions"].push_back(
          {{"number", entry.number},
           {"start", entry.start},
           {"sectors", entry.length},
           {"bytes", entry.byteLength()},
           {"type", entry.type},
           {"name", entry.name},
           {"fileSystem", RecogniseFileSystem(options->path, entry.number)}});
    }
    std::optional<Searched> searched;
    if (options->search) {
      searched = SearchDisk(options->path, list);
      if (!searched) {
        status = 1;
        return;
      }
      json["searchCompleted"] = searched->completed;
      json["volumes"] = VolumesJson(searched->volumes);
    }
    if (options->json) {
      PrintJson(json);
    } else if (list.table.empty()) {
      std::printf("No partition table in '%s'.\n", options->path.c_str());
    } else {
      std::printf("Partition table: %s\n", list.table.c_str());
      std::printf("%3s  %12s  %12s  %12s  %-38s %s\n", "#", "Start", "Sectors", "Size", "Type",
                  "File system");
      for (const auto& p : json["partitions"]) {
        std::printf("%3d  %12llu  %12llu  %12s  %-38s %s\n", p["number"].get<int>(),
                    p["start"].get<unsigned long long>(), p["sectors"].get<unsigned long long>(),
                    SizeText(p["bytes"].get<std::uint64_t>()).c_str(),
                    p["type"].get<std::string>().c_str(),
                    p["fileSystem"].get<std::string>().c_str());
      }
    }
    if (searched && !options->json) PrintVolumes(options->path, searched->volumes);
    status = searched && !searched->completed ? 1 : 0;
  });
}

}  // namespace restorix::cli
