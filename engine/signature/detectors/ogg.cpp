// Ogg: a chain of pages, each "OggS", a header of 27 bytes, a table of
// segment lengths and the segments. The logical streams of a file all begin
// (BOS flag) on its first pages and end (EOS flag) on their last; the file
// ends with the page that ends its last stream. The codec of the first
// stream names it: Vorbis .ogg, Opus .opus, FLAC .oga, Theora .ogv. Every
// page's checksum is checked, so that a page cut short by the next file does
// not take that file's first bytes with it.

#include <algorithm>
#include <array>
#include <vector>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

constexpr std::uint64_t kPageHeader = 27;
constexpr std::uint8_t kContinued = 1, kFirst = 2, kLast = 4;
constexpr std::size_t kMaxStreams = 64;

// The page checksum: CRC-32 with polynomial 0x04C11DB7, most significant
// bit first, initial value 0, over the page with its checksum field zero.
class OggCrc {
 public:
  OggCrc() {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t r = i << 24;
      for (int bit = 0; bit < 8; ++bit)
        r = (r & 0x80000000u) != 0 ? (r << 1) ^ 0x04C11DB7u : r << 1;
      table_[i] = r;
    }
  }
  std::uint32_t Update(std::uint32_t crc, Bytes data) const {
    for (const std::uint8_t b : data)
      crc = (crc << 8) ^ table_[((crc >> 24) ^ b) & 0xFF];
    return crc;
  }

 private:
  std::array<std::uint32_t, 256> table_{};
};

// True when the page at `pos`, `size` bytes long, has the checksum it
// carries.
bool ChecksumMatches(SourceBytes& bytes, std::uint64_t pos, std::uint64_t size) {
  static const OggCrc crc;
  const std::uint32_t stored = bytes.le32(pos + 22);
  const std::array<std::uint8_t, 4> zeros{};
  std::uint32_t sum = 0;
  for (std::uint64_t at = pos; at < pos + size;) {
    if (at == pos + 22) {
      sum = crc.Update(sum, zeros);
      at += zeros.size();
      continue;
    }
    const std::uint64_t stop = at < pos + 22 ? pos + 22 : pos + size;
    const Bytes run = bytes.Run(at);
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(run.size(), stop - at));
    sum = crc.Update(sum, run.first(n));
    at += n;
  }
  return sum == stored;
}

struct Codec {
  std::string_view magic, extension, category;
};
constexpr Codec kCodecs[] = {
    {"\x01vorbis", "ogg", "Audio"},
    {"OpusHead", "opus", "Audio"},
    {"\x7F"
     "FLAC",
     "oga", "Audio"},
    {"\x80theora", "ogv", "Video"},
    {"Speex   ", "spx", "Audio"},
};

}  // namespace

std::uint32_t DetectOgg(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 64);
  const std::uint64_t limit = bytes.bytesLeft();
  std::vector<std::uint32_t> streams, ended;
  bool headers = true;  // still on the first pages, where streams begin
  std::uint64_t pos = 0;
  while (context.running() && bytes.Matches(pos, "OggS") && bytes.u8(pos + 4) == 0) {
    const std::uint8_t flags = bytes.u8(pos + 5);
    const std::uint32_t serial = bytes.le32(pos + 14);
    const std::uint64_t segments = bytes.u8(pos + 26);
    std::uint64_t size = kPageHeader + segments;
    for (std::uint64_t i = 0; i < segments; ++i)
      size += bytes.u8(pos + kPageHeader + i);
    if ((flags & ~(kContinued | kFirst | kLast)) != 0 || pos + size > limit ||
        !ChecksumMatches(bytes, pos, size)) {
      break;
    }
    const bool known = std::find(streams.begin(), streams.end(), serial) != streams.end();
    if ((flags & kFirst) != 0) {
      // A stream begins only on the first pages of a file: a later one
      // belongs to the next file.
      if (!headers || known || streams.size() == kMaxStreams) break;
      streams.push_back(serial);
    } else {
      headers = false;
      if (!known) break;
    }
    if (pos == 0) {
      const std::uint64_t payload = kPageHeader + segments;
      for (const Codec& codec : kCodecs) {
        if (bytes.Matches(payload, codec.magic)) {
          record.SetExtension(codec.extension);
          record.SetCategory(codec.category);
        }
      }
    }
    pos += size;
    if ((flags & kLast) != 0 && std::find(ended.begin(), ended.end(), serial) == ended.end())
      ended.push_back(serial);
    if (ended.size() == streams.size()) break;
  }
  return pos == 0 ? 0 : ConfirmAndSkip(record, pos);
}

}  // namespace restorix
