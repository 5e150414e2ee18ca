#include "fs/lznt1.h"

#include <algorithm>

namespace restorix {

namespace {

constexpr std::uint16_t kCompressed = 0x8000;
constexpr std::uint16_t kLengthMask = 0x0FFF;

// Decodes one compressed chunk into `out` (at most 4096 bytes); returns the
// bytes produced. Stops at the first token that points before the chunk.
std::size_t DecompressChunk(Bytes data, MutableBytes out) {
  std::size_t in = 0;
  std::size_t produced = 0;
  while (in < data.size() && produced < out.size()) {
    const std::uint8_t flags = data[in++];
    for (int bit = 0; bit < 8 && in < data.size() && produced < out.size(); ++bit) {
      if ((flags & (1 << bit)) == 0) {
        out[produced++] = data[in++];
        continue;
      }
      if (data.size() - in < 2) return produced;
      const std::uint16_t token = le16(data, in);
      in += 2;
      // The split between offset and length bits moves with the position:
      // the further into the chunk, the more bits the offset needs.
      unsigned lengthBits = 12;
      for (std::size_t p = produced - 1; produced > 0 && p >= 0x10; p >>= 1)
        --lengthBits;
      const std::size_t length = (token & ((1u << lengthBits) - 1)) + 3u;
      const std::size_t offset = (token >> lengthBits) + 1u;
      if (offset > produced) return produced;
      for (std::size_t i = 0; i < length && produced < out.size(); ++i, ++produced) {
        out[produced] = out[produced - offset];
      }
    }
  }
  return produced;
}

}  // namespace

bool Lznt1ChunksFit(Bytes in) {
  std::size_t pos = 0;
  while (in.size() - pos >= 2) {
    const std::uint16_t header = le16(in, pos);
    if ((header & kLengthMask) == 0) return true;
    const std::size_t length = (header & kLengthMask) + 1u;
    if (in.size() - pos - 2 < length) return false;
    pos += 2 + length;
  }
  return true;
}

std::size_t Lznt1Decompress(Bytes in, MutableBytes out) {
  std::size_t pos = 0;
  std::size_t chunkStart = 0;
  std::size_t end = 0;
  while (in.size() - pos >= 2 && chunkStart < out.size()) {
    const std::uint16_t header = le16(in, pos);
    if ((header & kLengthMask) == 0) break;
    const std::size_t length = (header & kLengthMask) + 1u;
    const Bytes data = Slice(in, pos + 2, length);
    const MutableBytes chunkOut =
        out.subspan(chunkStart, std::min(kLznt1ChunkBytes, out.size() - chunkStart));
    std::size_t produced = 0;
    if (header & kCompressed) {
      produced = DecompressChunk(data, chunkOut);
    } else {
      produced = std::min(data.size(), chunkOut.size());
      std::copy_n(data.begin(), produced, chunkOut.begin());
    }
    end = chunkStart + produced;
    pos += 2 + length;
    if (pos > in.size()) break;
    chunkStart += kLznt1ChunkBytes;
  }
  return end;
}

}  // namespace restorix
