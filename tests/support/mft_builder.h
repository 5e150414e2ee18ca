// Builds NTFS MFT records in memory, in the protected on-disk form (with
// update-sequence fixups applied), for tests of record parsing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace restorix::test {

// Mapping pairs for (cluster count, cluster delta) runs; delta 0 makes a
// sparse run. Ends with the zero header byte.
std::vector<std::uint8_t> EncodeRunList(
    std::initializer_list<std::pair<std::uint64_t, std::int64_t>> runs);

class MftRecordBuilder {
 public:
  explicit MftRecordBuilder(std::uint32_t recordBytes = 1024, std::uint16_t flags = 0x0001);

  // Each returns the attribute's offset in the record.
  std::uint32_t Resident(std::uint32_t type, const std::vector<std::uint8_t>& value,
                         std::uint16_t id = 0, const std::u16string& name = u"");
  std::uint32_t NonResident(std::uint32_t type, std::uint64_t firstVcn, std::uint64_t lastVcn,
                            const std::vector<std::uint8_t>& runList, std::uint64_t dataSize,
                            std::uint16_t id = 0, std::uint16_t flags = 0,
                            std::uint16_t compressionUnit = 0, const std::u16string& name = u"");
  // Raw bytes appended as they are (for damaged attributes).
  std::uint32_t Raw(const std::vector<std::uint8_t>& bytes);

  MftRecordBuilder& BaseReference(std::uint64_t reference);
  MftRecordBuilder& UpdateSequenceOffset(std::uint16_t offset);  // 0x30 (default) or 0x2A
  // The record's own number (kept at 0x2C in the 0x30 layout) and sequence
  // number (1 unless given).
  MftRecordBuilder& Number(std::uint32_t number, std::uint16_t sequence = 1);

  // The record as it lies on disk: end marker, bytes in use, fixups applied.
  std::vector<std::uint8_t> Build(std::uint16_t checkWord = 0x0042) const;

 private:
  std::uint32_t Append(std::vector<std::uint8_t> attribute);
  std::uint32_t FirstAttribute() const;

  std::uint32_t recordBytes_;
  std::uint16_t flags_;
  std::uint16_t usaOffset_ = 0x30;
  std::uint64_t base_ = 0;
  std::uint32_t number_ = 0;
  std::uint16_t sequence_ = 1;
  std::vector<std::vector<std::uint8_t>> attributes_;
};

// Puts a record into its protected on-disk form: the last word of every
// 512-byte block moves into the update sequence (at usaOffset, after the
// check word) and the check word takes its place.
void Protect(std::vector<std::uint8_t>& record, std::uint16_t usaOffset, std::uint16_t checkWord);

// A $FILE_NAME value: parent reference, name space, name.
std::vector<std::uint8_t> FileNameValue(std::uint64_t parent, const std::u16string& name,
                                        std::uint8_t nameSpace = 1);
// A $STANDARD_INFORMATION value with creation and access times.
std::vector<std::uint8_t> StandardInformationValue(std::uint64_t created, std::uint64_t accessed);
// One attribute-list entry.
std::vector<std::uint8_t> AttributeListEntryBytes(std::uint32_t type, std::uint64_t firstVcn,
                                                  std::uint32_t record, std::uint16_t id);

}  // namespace restorix::test
