// FLAC: "fLaC", metadata blocks (STREAMINFO first), then audio frames. A
// frame does not store its length; it begins with a sync code and a header
// that ends in a CRC-8, and ends with a CRC-16 over the whole frame. So each
// frame is followed to the next header that checks out and carries the next
// frame (or sample) number, until the frames hold the sample count that
// STREAMINFO gives; the last frame ends where its CRC-16 does.

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

constexpr std::uint64_t kStreamInfo = 8;  // STREAMINFO's body
constexpr int kMaxMetadataBlocks = 4096;
// A frame can hardly be longer: 65535 samples of 8 channels at 32 bits.
constexpr std::uint64_t kMaxFrame = 65535ull * 8 * 4 + 64;

template <int Bits, std::uint32_t Poly>
class Crc {
 public:
  constexpr Crc() {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t r = i << (Bits - 8);
      for (int bit = 0; bit < 8; ++bit)
        r = (r & (1u << (Bits - 1))) != 0 ? (r << 1) ^ Poly : r << 1;
      table_[i] = r & kMask;
    }
  }
  std::uint32_t Update(std::uint32_t crc, std::uint8_t b) const {
    return ((crc << 8) ^ table_[((crc >> (Bits - 8)) ^ b) & 0xFF]) & kMask;
  }

 private:
  static constexpr std::uint32_t kMask = (1u << Bits) - 1;
  std::array<std::uint32_t, 256> table_{};
};
constexpr Crc<8, 0x07> kCrc8;
constexpr Crc<16, 0x8005> kCrc16;

struct FrameHeader {
  bool variable = false;  // numbered by sample, not by frame
  std::uint64_t number = 0;
  std::uint64_t samples = 0;
  std::uint64_t length = 0;  // of the header, CRC-8 included
};

// The frame header at `pos`, if its fields are valid and its CRC-8 matches.
std::optional<FrameHeader> ReadFrameHeader(SourceBytes& bytes, std::uint64_t pos) {
  std::array<std::uint8_t, 16> h{};
  bytes.Read(pos, h);
  if (h[0] != 0xFF || (h[1] & 0xFE) != 0xF8) return std::nullopt;
  FrameHeader frame;
  frame.variable = (h[1] & 1) != 0;
  const unsigned sizeCode = h[2] >> 4, rateCode = h[2] & 0x0F;
  const unsigned channels = h[3] >> 4, depthCode = (h[3] >> 1) & 7;
  if (sizeCode == 0 || rateCode == 15 || channels > 10 || depthCode == 3 || (h[3] & 1) != 0)
    return std::nullopt;
  // The frame or sample number, UTF-8 style: 1 to 7 bytes.
  std::size_t at = 4;
  const std::uint8_t lead = h[at++];
  int more = 0;
  std::uint64_t number = lead;
  if (lead >= 0x80) {
    while (more < 7 && (lead & (0x40 >> more)) != 0)
      ++more;
    if (more == 0 || more == 7 || (more == 6 && !frame.variable)) return std::nullopt;
    number = lead & (0x3F >> more);
  }
  for (int i = 0; i < more; ++i) {
    if ((h[at] & 0xC0) != 0x80) return std::nullopt;
    number = number << 6 | (h[at++] & 0x3F);
  }
  frame.number = number;
  if (sizeCode == 1) {
    frame.samples = 192;
  } else if (sizeCode <= 5) {
    frame.samples = 576u << (sizeCode - 2);
  } else if (sizeCode == 6) {
    frame.samples = h[at++] + 1u;
  } else if (sizeCode == 7) {
    frame.samples = (h[at] << 8 | h[at + 1]) + 1u;
    at += 2;
  } else {
    frame.samples = 256u << (sizeCode - 8);
  }
  if (rateCode == 12) at += 1;
  if (rateCode == 13 || rateCode == 14) at += 2;
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < at; ++i)
    crc = kCrc8.Update(crc, h[i]);
  if (crc != h[at]) return std::nullopt;
  frame.length = at + 1;
  return frame;
}

// The next frame header after the frame at `frame` that carries `number`,
// from `from` on and before `to`; 0 when there is none.
std::uint64_t FindNextFrame(DetectorContext& context, SourceBytes& bytes, std::uint64_t from,
                            std::uint64_t to, bool variable, std::uint64_t number) {
  std::uint64_t pos = from;
  while (pos < to && context.running()) {
    const Bytes run = bytes.Run(pos);
    const std::uint64_t span = std::min<std::uint64_t>(run.size(), to - pos);
    const auto* found = static_cast<const std::uint8_t*>(std::memchr(run.data(), 0xFF, span));
    if (found == nullptr) {
      pos += span;
      continue;
    }
    const std::uint64_t at = pos + static_cast<std::uint64_t>(found - run.data());
    const auto header = ReadFrameHeader(bytes, at);
    if (header && header->variable == variable && header->number == number) return at;
    pos = at + 1;
  }
  return 0;
}

// Where the frame at `frame` ends: the first position at least `shortest`
// bytes on, and before `to`, at which the frame's bytes and the CRC-16 after
// them check out; 0 when there is none.
std::uint64_t FrameEnd(DetectorContext& context, SourceBytes& bytes, std::uint64_t frame,
                       std::uint64_t shortest, std::uint64_t to) {
  std::uint32_t crc = 0;
  std::uint64_t pos = frame;
  while (pos < to && context.running()) {
    const Bytes run = bytes.Run(pos);
    const std::uint64_t span = std::min<std::uint64_t>(run.size(), to - pos);
    for (std::uint64_t i = 0; i < span; ++i) {
      crc = kCrc16.Update(crc, run[i]);
      if (crc == 0 && pos + i + 1 - frame >= shortest) return pos + i + 1;
    }
    pos += span;
  }
  return 0;
}

}  // namespace

std::uint32_t DetectFlac(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 256);
  const std::uint64_t limit = bytes.bytesLeft();
  // STREAMINFO: 34 bytes, first.
  if (!bytes.Matches(0, "fLaC") || (bytes.u8(4) & 0x7F) != 0 || (bytes.be32(4) & 0xFFFFFF) != 34)
    return 0;
  const std::uint64_t minBlock = bytes.be16(kStreamInfo);
  const std::uint64_t maxBlock = bytes.be16(kStreamInfo + 2);
  const std::uint64_t minFrame = bytes.be32(kStreamInfo + 4) >> 8;
  const std::uint64_t maxFrame = bytes.be32(kStreamInfo + 7) >> 8;
  const std::uint64_t rate = bytes.be32(kStreamInfo + 10) >> 12;
  const std::uint64_t total =
      (std::uint64_t{bytes.u8(kStreamInfo + 13)} & 0x0F) << 32 | bytes.be32(kStreamInfo + 14);
  if (minBlock < 16 || maxBlock < minBlock || rate == 0 || (maxFrame != 0 && maxFrame < minFrame))
    return 0;

  std::uint64_t pos = 4;
  for (int block = 0; block < kMaxMetadataBlocks && context.running(); ++block) {
    const std::uint8_t type = bytes.u8(pos);
    if ((type & 0x7F) == 127) return 0;
    pos += 4 + (bytes.be32(pos) & 0xFFFFFF);
    if ((type & 0x80) != 0) break;
  }
  if (pos > limit) return 0;

  // Frames: the first carries number 0.
  const auto first = ReadFrameHeader(bytes, pos);
  if (!first || first->number != 0) return 0;
  const bool variable = first->variable;
  const std::uint64_t longest = maxFrame != 0 ? maxFrame : kMaxFrame;
  const std::uint64_t shortest = std::max<std::uint64_t>(minFrame, first->length + 2);
  std::uint64_t frame = pos, samples = 0, frames = 0;
  std::uint64_t frameSamples = first->samples;
  while (context.running()) {
    samples += frameSamples;
    ++frames;
    if (total != 0 && samples >= total) break;
    const std::uint64_t to = std::min(limit, frame + longest + 1);
    const std::uint64_t next =
        FindNextFrame(context, bytes, frame + shortest, to, variable, variable ? samples : frames);
    if (next == 0) break;
    frameSamples = ReadFrameHeader(bytes, next)->samples;
    frame = next;
  }
  // The last frame found: its CRC-16 ends it (and the file); without one
  // (a file cut short) the file ends before it.
  const std::uint64_t end =
      FrameEnd(context, bytes, frame, shortest, std::min(limit, frame + longest));
  return ConfirmAndSkip(record, end != 0 ? end : frame);
}

}  // namespace restorix
