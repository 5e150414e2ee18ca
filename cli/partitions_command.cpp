#include <cstdio>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "disk/partitions.h"
#include "source.h"
#include "tree_output.h"
#include "util/size_text.h"

namespace restorix::cli {

namespace {

// The file system found in one partition, or "none".
std::string RecogniseFileSystem(const std::string& path, int number) {
  const OpenResult result =
      Volume::Open(SourceKind::LogicalDrive, path, static_cast<unsigned>(number));
  return result ? FileSystemName(result.volume->context().fsType()) : "none";
}

}  // namespace

void AddPartitionsCommand(CLI::App& app, int& status) {
  struct Options {
    std::string path;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command =
      app.add_subcommand("partitions", "List the partitions of a whole disk or disk image");
  command->add_option("IMAGE", options->path, "Whole-disk block device or disk image")->required();
  command->add_flag("--json", options->json, "Print one JSON document");
  command->footer("Example:\n  restorix partitions disk.img");
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
    status = 0;
  });
}

}  // namespace restorix::cli
