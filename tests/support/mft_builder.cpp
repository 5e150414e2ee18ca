#include "support/mft_builder.h"

#include "support/boot_sectors.h"
#include "util/bytes.h"

namespace restorix::test {

namespace {
std::size_t Align8(std::size_t n) {
  return (n + 7) / 8 * 8;
}
}  // namespace

std::vector<std::uint8_t> EncodeRunList(
    std::initializer_list<std::pair<std::uint64_t, std::int64_t>> runs) {
  std::vector<std::uint8_t> out;
  for (const auto& [count, delta] : runs) {
    std::vector<std::uint8_t> length;
    for (std::uint64_t c = count; c != 0 || length.empty(); c >>= 8)
      length.push_back(c & 0xFF);
    std::vector<std::uint8_t> offset;
    if (delta != 0) {
      std::int64_t d = delta;
      while (true) {
        const auto byte = static_cast<std::uint8_t>(d & 0xFF);
        offset.push_back(byte);
        d >>= 8;  // arithmetic shift keeps the sign
        if ((d == 0 && !(byte & 0x80)) || (d == -1 && (byte & 0x80))) break;
      }
    }
    out.push_back(static_cast<std::uint8_t>(length.size() | (offset.size() << 4)));
    out.insert(out.end(), length.begin(), length.end());
    out.insert(out.end(), offset.begin(), offset.end());
  }
  out.push_back(0);
  return out;
}

MftRecordBuilder::MftRecordBuilder(std::uint32_t recordBytes, std::uint16_t flags)
    : recordBytes_(recordBytes), flags_(flags) {
}

std::uint32_t MftRecordBuilder::FirstAttribute() const {
  const std::uint32_t count = recordBytes_ / 512 + 1;
  std::uint32_t span = 2 * count;
  if (span % 8 != 0) {
    span = (span + 7) / 8 * 8;
    if (usaOffset_ == 0x2A) span -= 2;
  }
  return usaOffset_ + span;
}

std::uint32_t MftRecordBuilder::Append(std::vector<std::uint8_t> attribute) {
  std::uint32_t offset = FirstAttribute();
  for (const auto& a : attributes_)
    offset += static_cast<std::uint32_t>(a.size());
  attributes_.push_back(std::move(attribute));
  return offset;
}

std::uint32_t MftRecordBuilder::Resident(std::uint32_t type, const std::vector<std::uint8_t>& value,
                                         std::uint16_t id, const std::u16string& name) {
  const std::size_t nameOffset = 0x18;
  const std::size_t valueOffset = Align8(nameOffset + 2 * name.size());
  std::vector<std::uint8_t> a(Align8(valueOffset + value.size()), 0);
  Put32(a, 0x00, type);
  Put32(a, 0x04, static_cast<std::uint32_t>(a.size()));
  a[0x08] = 0;
  a[0x09] = static_cast<std::uint8_t>(name.size());
  Put16(a, 0x0A, static_cast<std::uint16_t>(nameOffset));
  Put16(a, 0x0E, id);
  Put32(a, 0x10, static_cast<std::uint32_t>(value.size()));
  Put16(a, 0x14, static_cast<std::uint16_t>(valueOffset));
  for (std::size_t i = 0; i < name.size(); ++i)
    Put16(a, nameOffset + 2 * i, name[i]);
  std::copy(value.begin(), value.end(), a.begin() + static_cast<std::ptrdiff_t>(valueOffset));
  return Append(std::move(a));
}

std::uint32_t MftRecordBuilder::NonResident(std::uint32_t type, std::uint64_t firstVcn,
                                            std::uint64_t lastVcn,
                                            const std::vector<std::uint8_t>& runList,
                                            std::uint64_t dataSize, std::uint16_t id,
                                            std::uint16_t flags, std::uint16_t compressionUnit,
                                            const std::u16string& name) {
  const std::size_t nameOffset = compressionUnit ? 0x48 : 0x40;
  const std::size_t runOffset = Align8(nameOffset + 2 * name.size());
  std::vector<std::uint8_t> a(Align8(runOffset + runList.size()), 0);
  Put32(a, 0x00, type);
  Put32(a, 0x04, static_cast<std::uint32_t>(a.size()));
  a[0x08] = 1;
  a[0x09] = static_cast<std::uint8_t>(name.size());
  Put16(a, 0x0A, static_cast<std::uint16_t>(nameOffset));
  Put16(a, 0x0C, flags);
  Put16(a, 0x0E, id);
  Put64(a, 0x10, firstVcn);
  Put64(a, 0x18, lastVcn);
  Put16(a, 0x20, static_cast<std::uint16_t>(runOffset));
  Put16(a, 0x22, compressionUnit);
  Put64(a, 0x28, dataSize);  // allocated
  Put64(a, 0x30, dataSize);
  Put64(a, 0x38, dataSize);  // initialised
  for (std::size_t i = 0; i < name.size(); ++i)
    Put16(a, nameOffset + 2 * i, name[i]);
  std::copy(runList.begin(), runList.end(), a.begin() + static_cast<std::ptrdiff_t>(runOffset));
  return Append(std::move(a));
}

std::uint32_t MftRecordBuilder::Raw(const std::vector<std::uint8_t>& bytes) {
  return Append(bytes);
}

MftRecordBuilder& MftRecordBuilder::BaseReference(std::uint64_t reference) {
  base_ = reference;
  return *this;
}

MftRecordBuilder& MftRecordBuilder::UpdateSequenceOffset(std::uint16_t offset) {
  usaOffset_ = offset;
  return *this;
}

MftRecordBuilder& MftRecordBuilder::Number(std::uint32_t number, std::uint16_t sequence) {
  number_ = number;
  sequence_ = sequence;
  return *this;
}

std::vector<std::uint8_t> MftRecordBuilder::Build(std::uint16_t checkWord) const {
  std::vector<std::uint8_t> r(recordBytes_, 0);
  const std::uint16_t count = static_cast<std::uint16_t>(recordBytes_ / 512 + 1);
  std::copy_n("FILE", 4, r.begin());
  Put16(r, 0x04, usaOffset_);
  Put16(r, 0x06, count);
  Put16(r, 0x10, sequence_);
  if (usaOffset_ == 0x30) Put32(r, 0x2C, number_);
  Put16(r, 0x12, 1);  // hard links
  Put16(r, 0x14, static_cast<std::uint16_t>(FirstAttribute()));
  Put16(r, 0x16, flags_);
  Put64(r, 0x20, base_);
  std::size_t offset = FirstAttribute();
  for (const auto& a : attributes_) {
    std::copy(a.begin(), a.end(), r.begin() + static_cast<std::ptrdiff_t>(offset));
    offset += a.size();
  }
  Put32(r, offset, 0xFFFFFFFF);
  const auto inUse = static_cast<std::uint32_t>(Align8(offset + 8));
  Put32(r, 0x18, inUse);
  Put32(r, 0x1C, recordBytes_);
  Protect(r, usaOffset_, checkWord);
  return r;
}

void Protect(std::vector<std::uint8_t>& r, std::uint16_t usaOffset, std::uint16_t checkWord) {
  Put16(r, usaOffset, checkWord);
  for (std::size_t block = 1; block * 512 <= r.size(); ++block) {
    const std::size_t end = block * 512;
    Put16(r, usaOffset + 2u * block, static_cast<std::uint16_t>(r[end - 2] | (r[end - 1] << 8)));
    Put16(r, end - 2, checkWord);
  }
}

std::vector<std::uint8_t> FileNameValue(std::uint64_t parent, const std::u16string& name,
                                        std::uint8_t nameSpace) {
  std::vector<std::uint8_t> v(0x42 + 2 * name.size(), 0);
  Put64(v, 0x00, parent);
  v[0x40] = static_cast<std::uint8_t>(name.size());
  v[0x41] = nameSpace;
  for (std::size_t i = 0; i < name.size(); ++i)
    Put16(v, 0x42 + 2 * i, name[i]);
  return v;
}

std::vector<std::uint8_t> StandardInformationValue(std::uint64_t created, std::uint64_t accessed) {
  std::vector<std::uint8_t> v(0x48, 0);
  Put64(v, 0x00, created);
  Put64(v, 0x08, created);
  Put64(v, 0x10, created);
  Put64(v, 0x18, accessed);
  return v;
}

std::vector<std::uint8_t> AttributeListEntryBytes(std::uint32_t type, std::uint64_t firstVcn,
                                                  std::uint32_t record, std::uint16_t id) {
  std::vector<std::uint8_t> e(0x20, 0);
  Put32(e, 0x00, type);
  Put16(e, 0x04, 0x20);
  e[0x07] = 0x1A;
  Put64(e, 0x08, firstVcn);
  Put64(e, 0x10, std::uint64_t{record} | (std::uint64_t{1} << 48));
  Put16(e, 0x18, id);
  return e;
}

}  // namespace restorix::test
