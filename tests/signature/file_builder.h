// Laying out files byte by byte for the detector tests, and a source that
// holds them far apart (past 4 GiB) without the memory to match.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "disk/sector_source.h"
#include "signature/detectors/detectors.h"

namespace restorix::test {

using ByteVector = std::vector<std::uint8_t>;

// Appends fields to a byte vector.
class FileBuilder {
 public:
  FileBuilder& le(std::uint64_t value, int width);
  FileBuilder& be(std::uint64_t value, int width);
  FileBuilder& text(std::string_view text);
  FileBuilder& raw(const ByteVector& bytes);
  FileBuilder& fill(std::size_t count, std::uint8_t value = 0);
  // Writes `value` little-endian over bytes already there.
  FileBuilder& patchLe(std::size_t at, std::uint64_t value, int width);
  std::size_t size() const { return bytes_.size(); }
  const ByteVector& bytes() const { return bytes_; }
  operator ByteVector() const { return bytes_; }

 private:
  ByteVector bytes_;
};

// A source of `size` bytes of zeros but for the pieces placed in it.
class SparseSource : public SectorSource {
 public:
  SparseSource(std::uint64_t size, std::uint32_t sectorSize = 512)
      : size_(size), sectorSize_(sectorSize) {}
  void Place(std::uint64_t offset, ByteVector bytes) { pieces_[offset] = std::move(bytes); }

  int ReadAt(MutableBytes buffer, std::uint64_t offset) override;
  std::uint64_t size() const override { return size_; }
  std::uint32_t sectorSize() const override { return sectorSize_; }
  SourceIdentity identity() const override { return {}; }

 private:
  std::uint64_t size_;
  std::uint32_t sectorSize_;
  std::map<std::uint64_t, ByteVector> pieces_;
};

// What a detector made of a hit.
struct Detected {
  bool confirmed = false;
  std::uint64_t size = 0;  // the whole length (largeSize past 4 GiB)
  bool skips = false;      // the walk may jump over it (by the same length)
  std::string extension, category;
};

// Runs `detector` at sector 0 of `source`.
Detected Detect(Detector detector, std::shared_ptr<SectorSource> source);
// Runs `detector` on `bytes` at the start of a source of at least 64
// sectors of `sectorSize` bytes (zeros after them).
Detected Detect(Detector detector, const ByteVector& bytes, std::uint32_t sectorSize = 512);

// Runs `detector` on `bytes` that end the source (the rest of their last
// sector zeros).
Detected DetectAtEnd(Detector detector, const ByteVector& bytes);

// The bytes up to `size`.
ByteVector Cut(ByteVector bytes, std::size_t size);

// A ZIP entry: stored, its sizes in the header or in a data descriptor after
// the data (signed or not).
struct Entry {
  std::string name, data;
  int descriptor = 0;  // 0: sizes in the header; 1: a signed descriptor; 2: unsigned
};
// Local entries, then (unless `directory` is false) the central directory
// and the end record with `comment`.
ByteVector Zip(const std::vector<Entry>& entries, bool directory = true,
               const std::string& comment = "");

// A table of detector cases: each refused (size 0) or confirmed with its
// size (kWhole: the bytes' own), an extension when one is given, and the
// skip over the file or not.
inline constexpr std::uint64_t kWhole = ~std::uint64_t{0};
struct DetectorCase {
  const char* what;
  Detector detector;
  ByteVector bytes;
  std::uint64_t size = kWhole;
  std::string extension = "";
  bool skips = true;
};
void CheckCases(const std::vector<DetectorCase>& cases);

// The CRC-32 of zlib (ZIP, gzip, 7z, RAR).
std::uint32_t Crc32(const ByteVector& bytes, std::size_t from = 0,
                    std::size_t to = static_cast<std::size_t>(-1));

}  // namespace restorix::test
