#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "source.h"
#include "tree_output.h"
#include "util/size_text.h"
#include "util/text.h"

namespace restorix::cli {

namespace {

nlohmann::ordered_json ContextJson(const Volume& volume, const SourceOptions& source) {
  const unsigned partition = source.partition;
  const VolumeContext& c = volume.context();
  nlohmann::ordered_json json;
  json["source"] = Utf8FromUtf16(volume.sourceName());
  json["partition"] = partition == 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(partition);
  if (source.offset != 0) json["offset"] = source.offset;
  json["fsType"] = static_cast<int>(c.fsType());
  json["fileSystem"] = FileSystemName(c.fsType());
  json["bytesPerSector"] = c.bytesPerSector();
  json["sectorsPerCluster"] = c.clusterSectors();
  json["totalSectors"] = c.totalSectors();
  if (volume.claimedSectors() > c.totalSectors()) json["claimedSectors"] = volume.claimedSectors();
  json["firstSector"] = c.firstSector();
  json["altBootSector"] = c.altBootSector();
  if (c.fsType() == FsType::Ntfs) {
    json["volumeSerial"] = c.volumeSerial();
    json["mftCluster"] = c.mftCluster();
    json["mftMirrorCluster"] = c.mftMirrorCluster();
    json["mftRecordSectors"] = c.mftRecordSectors();
    json["indexRecordSectors"] = c.indexRecordSectors();
    json["mftRecordCount"] = volume.mftRecordCount();
    auto& runs = json["mftRuns"] = nlohmann::ordered_json::array();
    for (const RunNode& run : volume.mftRuns()) {
      runs.push_back({{"startCluster", run.startCluster}, {"clusterCount", run.clusterCount}});
    }
  } else if (c.isExfat()) {
    json["volumeSerial"] = c.volumeSerial();
    json["fatStart"] = c.fatStart();
    json["dataStart"] = c.dataStart();
    json["clusterCount"] = c.fatEntryCount() - 1;
    json["rootCluster"] = c.exfatRootCluster();
  } else {
    json["fatKind"] = c.fatKind();
    json["fatStart"] = c.fatStart();
    json["fat2Start"] = c.fat2Start();
    json["dataStart"] = c.dataStart();
    json["fatSectors"] = c.fatSectors();
    json["fatEntryCount"] = c.fatEntryCount();
  }
  json["contextBytes"] = [&] {
    std::string hex;
    char pair[3];
    for (const std::uint8_t b : c.bytes()) {
      std::snprintf(pair, sizeof pair, "%02x", b);
      hex += pair;
    }
    return hex;
  }();
  return json;
}

void PrintText(const Volume& volume, const SourceOptions& source) {
  const unsigned partition = source.partition;
  const VolumeContext& c = volume.context();
  const auto row = [](const char* name, const std::string& value) {
    std::printf("%-20s %s\n", name, value.c_str());
  };
  const auto num = [](std::uint64_t v) { return std::to_string(v); };
  row("source", Utf8FromUtf16(volume.sourceName()));
  if (partition != 0) row("partition", num(partition));
  if (source.offset != 0) row("offset", num(source.offset));
  row("fileSystem", FileSystemName(c.fsType()) + std::string(" (fsType ") +
                        num(static_cast<std::uint64_t>(c.fsType())) + ")");
  row("size", SizeText(c.totalSectors() * c.bytesPerSector()));
  row("bytesPerSector", num(c.bytesPerSector()));
  row("sectorsPerCluster", num(c.clusterSectors()));
  row("totalSectors", num(c.totalSectors()));
  if (volume.claimedSectors() > c.totalSectors())
    row("claimedSectors", num(volume.claimedSectors()) + " (more than the source holds)");
  row("firstSector", num(c.firstSector()));
  if (c.fsType() == FsType::Ntfs) {
    char serial[24];
    std::snprintf(serial, sizeof serial, "%016llX",
                  static_cast<unsigned long long>(c.volumeSerial()));
    row("volumeSerial", serial);
    row("mftCluster", num(c.mftCluster()));
    row("mftMirrorCluster", num(c.mftMirrorCluster()));
    row("mftRecordSectors", num(c.mftRecordSectors()));
    row("indexRecordSectors", num(c.indexRecordSectors()));
    row("mftRecordCount", num(volume.mftRecordCount()));
    std::string runs;
    for (const RunNode& run : volume.mftRuns()) {
      if (!runs.empty()) runs += ", ";
      runs += num(run.startCluster) + "+" + num(run.clusterCount);
    }
    row("mftRuns", runs);
  } else if (c.isExfat()) {
    char serial[12];
    std::snprintf(serial, sizeof serial, "%08llX",
                  static_cast<unsigned long long>(c.volumeSerial()));
    row("volumeSerial", serial);
    row("fatStart", num(c.fatStart()));
    row("dataStart", num(c.dataStart()));
    row("clusterCount", num(c.fatEntryCount() - 1));
    row("rootCluster", num(c.exfatRootCluster()));
  } else {
    row("fatKind", num(c.fatKind()));
    row("fatStart", num(c.fatStart()));
    row("fat2Start", num(c.fat2Start()));
    row("dataStart", num(c.dataStart()));
    row("fatSectors", num(c.fatSectors()));
    row("fatEntryCount", num(c.fatEntryCount()));
  }
}

}  // namespace

void AddInfoCommand(CLI::App& app, int& status) {
  struct Options {
    SourceOptions source;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand("info", "Recognise the volume and print its geometry");
  AddSourceOptions(*command, options->source, "Volume: block device, volume image or image file");
  command->add_flag("--json", options->json, "Print one JSON document");
  command->footer(
      "Example:\n  restorix info /dev/sdb1\n  restorix info disk.img --partition 2 --json\n"
      "  restorix info disk.img --offset 2048");
  command->callback([options, &status] {
    const auto volume = OpenSourceOrExplain(SourceKind::LogicalDrive, options->source);
    if (!volume) {
      status = 1;
      return;
    }
    if (options->json) {
      PrintJson(ContextJson(*volume, options->source));
    } else {
      PrintText(*volume, options->source);
    }
    status = 0;
  });
}

}  // namespace restorix::cli
