#include "support/tsk.h"

#include <sstream>

#include "support/test_support.h"

namespace restorix::test {

std::string TskVolume::Args() const {
  return "-o " + std::to_string(offset) + " " + Quote(image.string());
}

std::uint64_t TskRecord::UnnamedDataSize() const {
  for (const TskAttribute& a : attributes) {
    if (a.type == 128 && a.name == "N/A") return a.size;
  }
  return 0;
}

std::vector<std::uint64_t> UnallocatedRecords(const TskVolume& volume) {
  std::istringstream lines(RunOk("ils " + volume.Args()));
  std::vector<std::uint64_t> records;
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0]))) continue;
    records.push_back(std::stoull(line.substr(0, line.find('|'))));
  }
  return records;
}

TskRecord Istat(const TskVolume& volume, std::uint64_t number) {
  TskRecord record;
  std::istringstream lines(RunOk("istat " + volume.Args() + " " + std::to_string(number)));
  std::string line;
  bool inFileName = false;
  while (std::getline(lines, line)) {
    if (line.find("Allocated Directory") != std::string::npos) record.directory = true;
    if (line.rfind("$FILE_NAME Attribute Values:", 0) == 0) inFileName = true;
    if (inFileName && line.rfind("Name: ", 0) == 0) {
      record.names.push_back(line.substr(6));
    } else if (inFileName && line.rfind("Parent MFT Entry: ", 0) == 0) {
      if (record.names.size() == 1) record.parent = std::stoull(line.substr(18));
      inFileName = false;
    }
    if (line.rfind("Type: ", 0) == 0 && line.find("MFT Entry: ") != std::string::npos) {
      // An attribute-list entry: "Type: 128-2 \tMFT Entry: 76 \tVCN: 0"
      record.listed.push_back(line.substr(6, line.find_first_of(" \t", 6) - 6));
      continue;
    }
    if (line.rfind("Type: $", 0) != 0) continue;
    // Type: $DATA (128-2)   Name: N/A   Resident   size: 300
    TskAttribute a;
    const auto open = line.find('(');
    const auto dash = line.find('-', open);
    a.type = static_cast<std::uint32_t>(std::stoul(line.substr(open + 1)));
    a.id = static_cast<std::uint32_t>(std::stoul(line.substr(dash + 1)));
    const auto nameAt = line.find("Name: ") + 6;
    a.name = line.substr(nameAt, line.find("   ", nameAt) - nameAt);
    const auto sizeAt = line.find("size: ");
    if (sizeAt != std::string::npos) a.size = std::stoull(line.substr(sizeAt + 6));
    if (a.type == 32) record.hasAttributeList = true;
    record.attributes.push_back(a);
  }
  return record;
}

std::string IcatSha256(const TskVolume& volume, const std::string& address) {
  const std::string out = RunOk("icat " + volume.Args() + " " + address + " | sha256sum");
  return out.substr(0, 64);
}

std::string Sha256OfFile(const std::filesystem::path& file) {
  return RunOk("sha256sum " + Quote(file.string())).substr(0, 64);
}

}  // namespace restorix::test
