// What every file-type detector gets: the volume to read, the task's stop
// token, the sectors the MPEG detectors have claimed in this scan, and byte
// access to the source from the hit sector on.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "disk/volume.h"
#include "signature/signature_record.h"
#include "task.h"
#include "util/bytes.h"

namespace restorix {

// Sectors at which an MPEG audio frame or program-stream pack boundary fell
// earlier in this scan; a hit there is refused. They belong to one scan.
struct ClaimedSectors {
  std::unordered_set<std::uint64_t> audio;
  std::unordered_set<std::uint64_t> programStream;
};

struct DetectorContext {
  const Volume& volume;
  ClaimedSectors& claims;
  const StopToken& stop;
  bool running() const { return stop.running(); }
};

// A detector looks at the source from the hit sector on, decides whether a
// file of its type starts there, and on success may set the record's
// detectedSize, skipLength, skipValid and (compound documents) extension.
// Nonzero means confirmed.
using Detector = std::uint32_t (*)(DetectorContext& context, std::uint64_t hit,
                                   SignatureRecord& record);

// A length as the record's 32-bit size fields hold it: a length past 4 GiB
// is held at the largest value, never wrapped to a small one.
inline std::uint32_t RecordSize(std::uint64_t size) {
  return size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size);
}

// Confirms a hit of `size` bytes that the walk does not skip over (the size
// is not certain enough to pass over what lies inside it).
inline std::uint32_t ConfirmSize(SignatureRecord& record, std::uint64_t size) {
  record.detectedSize = RecordSize(size);
  record.largeSize = size > 0xFFFFFFFFull ? size : 0;
  return 1;
}

// Confirms a hit of `size` bytes that the walk may skip over. A size past
// 4 GiB is kept whole in the record's largeSize, which the search then uses
// for both the carved length and the skip.
inline std::uint32_t ConfirmAndSkip(SignatureRecord& record, std::uint64_t size) {
  record.detectedSize = record.skipLength = RecordSize(size);
  record.largeSize = size > 0xFFFFFFFFull ? size : 0;
  record.skipValid = 1;
  return 1;
}

// Looks at the first bytes of a sector before a detector is called; a
// sector it turns away counts as a hit that failed.
using Prefilter = bool (*)(Bytes sectorHead);

// A type code's detector and how the search offers it sectors.
struct DetectorEntry {
  std::uint32_t typeCode = 0;
  Detector detect = nullptr;
  Prefilter prefilter = nullptr;  // null: every hit goes to the detector
  // For formats without a fixed signature (MPEG audio frames start with
  // sync bits): the type is offered every sector of its two-byte group at
  // offset 0, before the sector's own bytes are looked up there.
  bool everySector = false;
  // For such a type whose prefilter turned a sector away: whether the
  // sector's own bytes are still looked up in the group (otherwise the
  // group is done with the sector).
  bool (*lookUpAfterRefusal)(const SignatureRecord& record) = nullptr;
};

// The entry for a type code, or nullptr for codes without a detector.
const DetectorEntry* FindDetector(std::uint32_t typeCode);

// Byte access to the source at positions counted from the start of the hit
// sector. Reads go through the volume a block of sectors at a time, so a
// field that crosses the end of one read is simply read from the source;
// positions past the end of the source read as zeros.
class SourceBytes {
 public:
  SourceBytes(const Volume& volume, std::uint64_t hit, std::uint32_t blockSectors = 64);

  std::uint8_t u8(std::uint64_t pos) { return Get(pos, 1)[0]; }
  std::uint16_t le16(std::uint64_t pos) { return restorix::le16(Get(pos, 2), 0); }
  std::uint32_t le32(std::uint64_t pos) { return restorix::le32(Get(pos, 4), 0); }
  std::uint16_t be16(std::uint64_t pos) { return restorix::be16(Get(pos, 2), 0); }
  std::uint32_t be32(std::uint64_t pos) { return restorix::be32(Get(pos, 4), 0); }
  std::uint64_t le64(std::uint64_t pos) { return restorix::le64(Get(pos, 8), 0); }
  std::uint64_t be64(std::uint64_t pos) { return std::uint64_t{be32(pos)} << 32 | be32(pos + 4); }
  // True when the bytes at `pos` are exactly `text` (bytes of any value).
  bool Matches(std::uint64_t pos, std::string_view text);
  // The bytes from `pos` to the end of the block that holds them (at least
  // `min` bytes, at most the block), for scanning many bytes in one go.
  Bytes Run(std::uint64_t pos, std::size_t min = 1);

  std::uint32_t sectorBytes() const { return sectorBytes_; }
  // Copies the bytes from `pos` on into `out`.
  void Read(std::uint64_t pos, MutableBytes out);

  // Sectors of the source from the hit sector to its end, and the bytes.
  std::uint64_t sectorsLeft() const;
  std::uint64_t bytesLeft() const { return sectorsLeft() * sectorBytes_; }

 private:
  Bytes Get(std::uint64_t pos, std::size_t length);
  void Load(std::uint64_t sector);

  const Volume& volume_;
  std::uint64_t hit_;
  std::uint32_t sectorBytes_;
  std::uint32_t blockSectors_;
  std::vector<std::uint8_t> block_;
  std::uint64_t blockStart_ = ~std::uint64_t{0};  // first byte position held
  std::array<std::uint8_t, 8> scratch_{};
};

}  // namespace restorix
