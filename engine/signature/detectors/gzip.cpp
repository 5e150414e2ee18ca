// gzip: a 10-byte header (and the optional extra field, name, comment and
// header CRC its flags announce), a deflate stream, and a trailer of the
// CRC-32 and length of the data. The deflate stream is inflated to find
// where it ends; the trailer must then match what it gave. Members that
// follow one another directly (not at a sector start, where the next file
// could as well begin) are one file.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <vector>

#include "signature/detectors/detectors.h"

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

class Inflater {
 public:
  Inflater() { ok_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Inflates the deflate stream at `pos`; returns the position after it, or
  // 0 when the data is no deflate stream or is cut short. `crc` and `length`
  // receive the CRC-32 and length of the inflated data.
  std::uint64_t Run(DetectorContext& context, SourceBytes& bytes, std::uint64_t pos,
                    std::uint32_t& crc, std::uint64_t& length) {
    if (!ok_ || inflateReset(&stream_) != Z_OK) return 0;
    const std::uint64_t limit = bytes.bytesLeft();
    crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    length = 0;
    while (pos < limit && context.running()) {
      const Bytes run = bytes.Run(pos);
      const std::uint64_t span = std::min<std::uint64_t>(run.size(), limit - pos);
      stream_.next_in = const_cast<Bytef*>(run.data());
      stream_.avail_in = static_cast<uInt>(span);
      int status = Z_OK;
      do {
        stream_.next_out = out_.data();
        stream_.avail_out = static_cast<uInt>(out_.size());
        status = inflate(&stream_, Z_NO_FLUSH);
        const auto produced = static_cast<uInt>(out_.size() - stream_.avail_out);
        crc = static_cast<std::uint32_t>(crc32(crc, out_.data(), produced));
        length += produced;
      } while (status == Z_OK && stream_.avail_in > 0);
      pos += span - stream_.avail_in;
      if (status == Z_STREAM_END) return pos;
      if (status != Z_OK && status != Z_BUF_ERROR) return 0;
    }
    return 0;
  }

 private:
  z_stream stream_{};
  bool ok_ = false;
  std::array<std::uint8_t, 1 << 16> out_{};
};

}  // namespace

std::uint32_t DetectGzip(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 256);
  const std::uint64_t sectorBytes = bytes.sectorBytes();
  Inflater inflater;
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
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
    const std::uint64_t trailer = inflater.Run(context, bytes, at, crc, length);
    if (trailer == 0 || bytes.le32(trailer) != crc ||
        bytes.le32(trailer + 4) != static_cast<std::uint32_t>(length)) {
      break;
    }
    end = pos = trailer + 8;
    if (sectorBytes == 0 || pos % sectorBytes == 0) break;
  }
  return end == 0 ? 0 : ConfirmAndSkip(record, end);
}

}  // namespace restorix
