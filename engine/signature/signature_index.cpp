#include "signature/signature_index.h"

#include <algorithm>

#include "signature/detectors/detector.h"

namespace restorix {

std::vector<SignatureGroup> BuildSignatureIndex(const std::vector<SignatureRecord>& selected) {
  std::vector<SignatureGroup> groups;
  for (const SignatureRecord& record : selected) {
    if (record.sigLength == 0) continue;
    auto group = std::find_if(groups.begin(), groups.end(), [&](const SignatureGroup& g) {
      return g.sigLength == record.sigLength && g.sigOffset == record.sigOffset;
    });
    if (group == groups.end()) {
      groups.emplace_back();
      group = groups.end() - 1;
      group->sigLength = record.sigLength;
      group->sigOffset = record.sigOffset;
    }
    const Bytes bytes = record.signature();
    std::string key(bytes.begin(), bytes.end());
    const DetectorEntry* found = FindDetector(record.typeCode);
    const auto [entry, added] = group->entries.try_emplace(key, IndexEntry{record, {}, found});
    const DetectorEntry* detector = entry->second.detector;
    // A further type of the same detector is no alias: that detector names
    // what it finds (a ZIP as docx or odt), and what it refuses is no file
    // of any of them.
    const bool sameDetector =
        detector != nullptr && record.typeCode == entry->second.record.typeCode;
    if (!added && !sameDetector) entry->second.aliases.emplace_back(record.ext());
    group->firstBytes.set(bytes[0]);
    if (group->sigLength == 2 && group->sigOffset == 0 && group->everySector == nullptr &&
        detector != nullptr && detector->everySector) {
      group->everySector = &entry->second;
      group->lookUpAfterRefusal =
          detector->lookUpAfterRefusal && detector->lookUpAfterRefusal(entry->second.record);
    }
  }
  return groups;
}

}  // namespace restorix
