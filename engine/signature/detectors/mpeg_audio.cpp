// MPEG audio (MP3 and its Layer I/II kin): bare frames, frames behind an
// ID3v2 tag, or frames in the data chunk of a RIFF WAVE. A stream counts only
// when at least 40 frames follow one another, since two sync bytes alone turn
// up in any compressed data.
#include <algorithm>
#include <array>
#include <optional>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

constexpr std::uint32_t kMinimumFrames = 40;
constexpr std::uint32_t kFormatMpegLayer3 = 0x55;

enum Version : std::uint8_t { kMpeg1, kMpeg2, kMpeg25 };
enum Layer : std::uint8_t { kLayer1, kLayer2, kLayer3 };

struct FrameHeader {
  Version version;
  Layer layer;
  bool protectedByCrc;  // protection bit 0: a 16-bit CRC follows the header
  std::uint32_t length;

  bool SameKind(const FrameHeader& other) const {
    return version == other.version && layer == other.layer &&
           protectedByCrc == other.protectedByCrc;
  }
};

// kbit/s by bitrate index (ISO/IEC 11172-3 and 13818-3); 0 is free format,
// which gives no frame length here.
constexpr std::array<std::array<std::uint16_t, 15>, 3> kMpeg1Bitrates{{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
}};
constexpr std::array<std::array<std::uint16_t, 15>, 2> kLowRateBitrates{{
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},  // Layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},       // Layers II, III
}};
constexpr std::array<std::uint32_t, 3> kMpeg1SampleRates{44100, 48000, 32000};

// Decodes a frame header; nullopt when it is none or its length cannot be
// worked out (free format, reserved sample rate), which ends any walk.
std::optional<FrameHeader> DecodeHeader(std::uint32_t h) {
  if (h < 0xFFE00000u) return std::nullopt;
  const std::uint32_t bitrateIndex = (h >> 12) & 0xF;
  if (bitrateIndex == 15) return std::nullopt;

  FrameHeader header{};
  switch ((h >> 19) & 3) {
    case 3:
      header.version = kMpeg1;
      break;
    case 2:
      header.version = kMpeg2;
      break;
    case 0:
      header.version = kMpeg25;
      break;
    default:
      return std::nullopt;
  }
  switch ((h >> 17) & 3) {
    case 3:
      header.layer = kLayer1;
      break;
    case 2:
      header.layer = kLayer2;
      break;
    case 1:
      header.layer = kLayer3;
      break;
    default:
      return std::nullopt;
  }
  header.protectedByCrc = ((h >> 16) & 1) == 0;

  const std::uint32_t rateIndex = (h >> 10) & 3;
  if (rateIndex == 3 || bitrateIndex == 0) return std::nullopt;
  const std::uint32_t divisor = header.version == kMpeg1 ? 1 : header.version == kMpeg2 ? 2 : 4;
  const std::uint32_t rate = kMpeg1SampleRates[rateIndex] / divisor;
  const std::uint32_t bitrate =
      header.version == kMpeg1 ? kMpeg1Bitrates[header.layer][bitrateIndex]
                               : kLowRateBitrates[header.layer == kLayer1 ? 0 : 1][bitrateIndex];
  const std::uint32_t padding = (h >> 9) & 1;

  // The CRC, when present, lies inside these lengths already. Layer III of
  // the low sample rates carries 576 samples a frame, half of MPEG-1's 1152,
  // hence its smaller factor; Layer II keeps 1152 in every version.
  if (header.layer == kLayer1) {
    header.length = (bitrate * 12000 / rate + padding) * 4;
  } else if (header.layer == kLayer3 && header.version != kMpeg1) {
    header.length = bitrate * 72000 / rate + padding;
  } else {
    header.length = bitrate * 144000 / rate + padding;
  }
  if (header.length == 0) return std::nullopt;
  return header;
}

// Finds the "data" chunk of a RIFF whose chunks start at `first` and may be
// looked for up to `last` (chunk positions); the position of its payload.
// A chunk of odd size is followed by a pad byte, as RIFF lays chunks out on
// even positions; without it the chunks after an odd one are never found.
std::optional<std::uint64_t> DataChunkPayload(SourceBytes& bytes, std::uint64_t first,
                                              std::uint64_t last) {
  for (std::uint64_t chunk = first; chunk <= last;) {
    if (bytes.Matches(chunk, "data")) return chunk + 8;
    const std::uint64_t size = bytes.le32(chunk + 4);
    chunk += 8 + size + (size & 1);
  }
  return std::nullopt;
}

}  // namespace

std::uint32_t DetectMpegAudio(DetectorContext& context, std::uint64_t hit,
                              SignatureRecord& record) {
  if (context.claims.audio.contains(hit)) return 0;
  SourceBytes bytes(context.volume, hit);
  const std::uint64_t sector = bytes.sectorBytes();
  if (sector < 16) return 0;
  std::uint64_t off = 0;

  if (bytes.Matches(0, "ID")) {
    if (bytes.u8(2) != '3') return 0;
    std::uint64_t tagSize = 0;
    for (std::uint64_t i = 6; i < 10; ++i) {
      const std::uint8_t b = bytes.u8(i);
      if (b >= 0x80) return 0;
      tagSize = (tagSize << 7) | b;
    }
    off = 10 + tagSize;
  }

  if (bytes.Matches(0, "RIFF")) {
    const auto payload = DataChunkPayload(bytes, 12, sector - 9);
    if (!payload || bytes.le16(20) != kFormatMpegLayer3) return 0;
    context.claims.audio.insert(hit);
    off = *payload;
  }

  // A WAVE behind an ID3 tag: its chunks are looked for in the two sectors
  // from the one the tag ends in.
  const std::uint64_t windowStart = off - off % sector;
  const std::uint64_t p = off % sector;
  if (bytes.Matches(off, "RIFF")) {
    if (bytes.le16(off + 20) != kFormatMpegLayer3) return 0;
    if (p == 0) context.claims.audio.insert(hit + off / sector);
    const auto payload = DataChunkPayload(bytes, off + 12, windowStart + 2 * sector - 9);
    if (!payload) return 0;
    off = *payload;
  }

  const auto reference = DecodeHeader(bytes.be32(off));
  if (!reference) return 0;

  // A cheap look at the second frame before the long walk.
  {
    std::uint64_t pos = off;
    std::uint32_t frames = 0;
    std::optional<FrameHeader> previous = reference;
    while (frames < 2 && previous->SameKind(*reference) && context.running()) {
      previous = DecodeHeader(bytes.be32(pos));
      if (!previous) break;
      pos += previous->length;
      ++frames;
    }
    if (frames < 2) return 0;
  }

  // Every frame length is nonzero, so the walk always moves on; past the end
  // of the source the bytes read as zeros and fail the sync test.
  std::uint32_t frames = 0;
  std::optional<FrameHeader> previous = reference;
  while (previous->SameKind(*reference) && context.running()) {
    const auto header = DecodeHeader(bytes.be32(off));
    if (!header) break;
    if (off % sector == 0) context.claims.audio.insert(hit + off / sector);
    off += header->length;
    ++frames;
    previous = header;
  }

  if (frames < kMinimumFrames) return 0;
  return ConfirmAndSkip(record, off);
}

bool LooksLikeMpegAudio(Bytes sectorHead) {
  const unsigned w = be16(sectorHead, 0);
  return w >= 0xFFE0 || w == 0x4944 || w == 0x5249;
}

bool IsMp3(const SignatureRecord& record) {
  const std::string_view extension = record.ext();
  return extension.size() == 3 && (extension[0] | 0x20) == 'm' && (extension[1] | 0x20) == 'p' &&
         extension[2] == '3';
}

}  // namespace restorix
