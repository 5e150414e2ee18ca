#include "drives/partition_types.h"

#include <cctype>
#include <cstdio>
#include <string_view>

#include "platform/blkid_probe.h"

namespace restorix::drives {

namespace {

constexpr const char* kEfiSystemGuid = "c12a7328-f81f-11d2-ba4b-00a0c93ec93b";

std::string MbrTypeName(int code) {
  switch (code) {
    case 0x01:
      return "12-bit FAT";
    case 0x04:
      return "16-bit FAT";
    case 0x05:
      return "Extended Partition";
    case 0x06:
      return "MS-DOS V4 Huge";
    case 0x07:
      return "Installable File System";
    case 0x0B:
      return "FAT32";
    case 0x0C:
      return "FAT32 (LBA)";
    case 0x0E:
      return "16-bit FAT (LBA)";
    case 0x0F:
      return "Extended w/Extended Int 13";
    case 0x27:
      return "Windows Recovery";
    case 0x42:
      return "Logical Disk Manager";
    case 0x82:
      return "Linux Swap";
    case 0x83:
      return "Linux";
    case 0x8E:
      return "Linux LVM";
    case 0xEE:
      return "GPT Protective";
    case 0xEF:
      return "EFI System";
    case 0xFD:
      return "Linux RAID";
    default:
      break;
  }
  char text[24];
  std::snprintf(text, sizeof text, "Unknown (0x%02X)", static_cast<unsigned>(code) & 0xFFu);
  return text;
}

std::string GptTypeName(std::string_view guid) {
  static const std::map<std::string, std::string, std::less<>> kNames = {
      {kEfiSystemGuid, "GPT: System"},
      {"ebd0a0a2-b9e5-4433-87c0-68b6b72699c7", "GPT: Basic Data"},
      {"e3c9e316-0b5c-4db8-817d-f92df00215ae", "GPT: Microsoft Reserved"},
      {"de94bba4-06d1-4d40-a16a-bfd50179d6ac", "GPT: Windows Recovery"},
      {"5808c8aa-7e8f-42e0-85d2-e1e90434cfb3", "GPT: Logical Disk Manager Metadata"},
      {"af9b60a0-1431-4f62-bc68-3311714a69ad", "GPT: Logical Disk Manager Data"},
      {"21686148-6449-6e6f-744e-656564454649", "GPT: BIOS Boot"},
      {"0fc63daf-8483-4772-8e79-3d69d8477de4", "GPT: Linux Filesystem"},
      {"4f68bce3-e8cd-4db1-96e7-fbcaf984b709", "GPT: Linux Root (x86-64)"},
      {"0657fd6d-a4ab-43c4-84e5-0933c84b4f4f", "GPT: Linux Swap"},
      {"e6d6d379-f507-44c2-a23c-238f2a3df928", "GPT: Linux LVM"},
      {"a19d880f-05fc-4d3b-a006-743f0f84911e", "GPT: Linux RAID"},
  };
  std::string lower(guid);
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto found = kNames.find(lower);
  return found != kNames.end() ? found->second : "GPT: Unknown";
}

}  // namespace

TableFacts ProbeTable(const std::filesystem::path& diskPath) {
  TableFacts facts;
  BlkidProbe::Opened opened = BlkidProbe::Open(diskPath, BlkidProbe::OpenMode::NonBlocking);
  if (!opened.probe) return facts;
  facts.readable = true;
  for (const ProbedPartition& partition : opened.probe->ReadPartitions().entries) {
    TableEntry entry;
    if (partition.table == "gpt") {
      entry.type = GptTypeName(partition.typeString);
      // GPT has no active flag; the EFI system partition is what boots.
      entry.boot = entry.type == GptTypeName(kEfiSystemGuid);
    } else {
      entry.type = MbrTypeName(partition.typeCode);
      entry.boot = (partition.flags & 0x80) != 0;
    }
    entry.primary = partition.primary;
    entry.extended = partition.extended;
    facts.entries[partition.number] = entry;
  }
  return facts;
}

}  // namespace restorix::drives
