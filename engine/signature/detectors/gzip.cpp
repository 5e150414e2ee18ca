// gzip: a 10-byte header (and the optional extra field, name, comment and
// header CRC its flags announce), a deflate stream, and a trailer of the
// CRC-32 and length of the data. The deflate stream is inflated to find
// where it ends; the trailer must then match what it gave. Members that
// follow one another directly (not at a sector start, where the next file
// could as well begin) are one file.

#include "signature/detectors/detectors.h"
#include "signature/detectors/inflate.h"

namespace restorix {

namespace {

constexpr std::uint8_t kHeaderCrc = 0x02, kExtra = 0x04, kName = 0x08, kComment = 0x10;
constexpr std::uint64_t kLongestText = 1 << 16;  // a name or comment

// Moves pos past a zero-terminated text; false when none ends in time.
bool SkipText(SourceBytes& bytes, std::uint64_t& pos) {
  for (std::uint64_t n = 0; n < kLongestText; ++n) {
    if (bytes.u8(pos++) == 0) return true;
  }
  return false;
}

}  // namespace

std::uint32_t DetectGzip(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 256);
  const std::uint64_t sectorBytes = bytes.sectorBytes();
  DeflateEnd deflate;
  std::uint64_t pos = 0, end = 0;
  while (context.running() && bytes.u8(pos) == 0x1F && bytes.u8(pos + 1) == 0x8B &&
         bytes.u8(pos + 2) == 8) {
    const std::uint8_t flags = bytes.u8(pos + 3);
    if ((flags & 0xE0) != 0) break;
    std::uint64_t at = pos + 10;
    if ((flags & kExtra) != 0) at += 2 + std::uint64_t{bytes.le16(at)};
    if ((flags & kName) != 0 && !SkipText(bytes, at)) break;
    if ((flags & kComment) != 0 && !SkipText(bytes, at)) break;
    if ((flags & kHeaderCrc) != 0) at += 2;
    const DeflateEnd::Stream data = deflate.Find(context, bytes, at);
    if (data.end == 0 || bytes.le32(data.end) != data.crc ||
        bytes.le32(data.end + 4) != static_cast<std::uint32_t>(data.length)) {
      break;
    }
    end = pos = data.end + 8;
    if (sectorBytes == 0 || pos % sectorBytes == 0) break;
  }
  return end == 0 ? 0 : ConfirmAndSkip(record, end);
}

}  // namespace restorix
