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
    if (!added) entry->second.aliases.emplace_back(record.ext());
    group->firstBytes.set(bytes[0]);
    const DetectorEntry* detector = entry->second.detector;
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
