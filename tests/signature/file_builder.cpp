#include "signature/file_builder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "disk/volume.h"
#include "support/fake_source.h"

namespace restorix::test {

FileBuilder& FileBuilder::le(std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i)
    bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return *this;
}

FileBuilder& FileBuilder::be(std::uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i)
    bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return *this;
}

FileBuilder& FileBuilder::text(std::string_view text) {
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  return *this;
}

FileBuilder& FileBuilder::raw(const ByteVector& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

FileBuilder& FileBuilder::fill(std::size_t count, std::uint8_t value) {
  bytes_.insert(bytes_.end(), count, value);
  return *this;
}

FileBuilder& FileBuilder::patchLe(std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i)
    bytes_.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(value >> (8 * i));
  return *this;
}

int SparseSource::ReadAt(MutableBytes buffer, std::uint64_t offset) {
  std::fill(buffer.begin(), buffer.end(), 0);
  const std::uint64_t end = offset + buffer.size();
  for (const auto& [at, bytes] : pieces_) {
    const std::uint64_t from = std::max(at, offset), to = std::min(at + bytes.size(), end);
    if (from < to) {
      std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(from - at), to - from,
                  buffer.begin() + static_cast<std::ptrdiff_t>(from - offset));
    }
  }
  return 0;
}

Detected Detect(Detector detector, std::shared_ptr<SectorSource> source) {
  const auto volume = Volume::Open(SourceKind::PhysicalDisk, std::move(source), u"detect").volume;
  StopToken stop;
  ClaimedSectors claims;
  DetectorContext context{*volume, claims, stop};
  SignatureRecord record;
  Detected d;
  d.confirmed = detector(context, 0, record) != 0;
  d.size = record.largeSize != 0 ? record.largeSize : record.detectedSize;
  d.skips = record.skipValid != 0 && record.skipLength == RecordSize(d.size);
  d.extension = record.ext();
  d.category = record.cat();
  return d;
}

Detected Detect(Detector detector, const ByteVector& bytes, std::uint32_t sectorSize) {
  ByteVector disk = bytes;
  disk.resize(std::max<std::size_t>(64 * sectorSize,
                                    (bytes.size() + sectorSize - 1) / sectorSize * sectorSize));
  return Detect(detector, std::make_shared<FakeSource>(std::move(disk), sectorSize));
}

Detected DetectAtEnd(Detector detector, const ByteVector& bytes) {
  ByteVector disk = bytes;
  disk.resize((bytes.size() + 511) / 512 * 512);
  return Detect(detector, std::make_shared<FakeSource>(std::move(disk)));
}

ByteVector Cut(ByteVector bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

ByteVector Zip(const std::vector<Entry>& entries, bool directory, const std::string& comment) {
  FileBuilder z, central;
  for (const Entry& e : entries) {
    const ByteVector data(e.data.begin(), e.data.end());
    const std::uint32_t crc = Crc32(data);
    const std::uint64_t offset = z.size();
    const int flags = e.descriptor != 0 ? 8 : 0;
    const std::uint64_t inHeader = e.descriptor != 0 ? 0 : data.size();
    z.le(0x04034B50, 4).le(20, 2).le(flags, 2).le(0, 2).le(0, 4);
    z.le(e.descriptor != 0 ? 0 : crc, 4).le(inHeader, 4).le(inHeader, 4);
    z.le(e.name.size(), 2).le(0, 2).text(e.name).raw(data);
    if (e.descriptor == 1) z.le(0x08074B50, 4);
    if (e.descriptor != 0) z.le(crc, 4).le(data.size(), 4).le(data.size(), 4);
    central.le(0x02014B50, 4).le(20, 2).le(20, 2).le(flags, 2).le(0, 2).le(0, 4).le(crc, 4);
    central.le(data.size(), 4).le(data.size(), 4).le(e.name.size(), 2).fill(8);
    central.le(0, 4).le(offset, 4).text(e.name);
  }
  if (!directory) return z;
  const std::uint64_t at = z.size();
  z.raw(central).le(0x06054B50, 4).le(0, 4).le(entries.size(), 2).le(entries.size(), 2);
  return z.le(central.size(), 4).le(at, 4).le(comment.size(), 2).text(comment);
}

void CheckCases(const std::vector<DetectorCase>& cases) {
  for (const DetectorCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Detected d = Detect(c.detector, c.bytes);
    const std::uint64_t size = c.size == kWhole ? c.bytes.size() : c.size;
    EXPECT_EQ(d.confirmed, size != 0);
    if (size == 0) continue;
    EXPECT_EQ(d.size, size);
    EXPECT_EQ(d.skips, c.skips);
    if (!c.extension.empty()) {
      EXPECT_EQ(d.extension, c.extension);
    }
  }
}

std::uint32_t Crc32(const ByteVector& bytes, std::size_t from, std::size_t to) {
  to = std::min(to, bytes.size());
  return static_cast<std::uint32_t>(crc32(0, bytes.data() + from, static_cast<uInt>(to - from)));
}

}  // namespace restorix::test
