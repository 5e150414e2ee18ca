#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

// Bytes of a colour table whose size field (low three bits) is `flags`.
std::uint64_t ColourTableBytes(std::uint8_t flags) {
  return std::uint64_t{3} << ((flags & 7) + 1);
}

}  // namespace

// Steps block by block from the logical screen to the trailer (3B). Whatever
// is not a block ends the file there; the length found is kept either way,
// since a GIF cut short still shows its first frames.
std::uint32_t DetectGif(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 2);
  // Past the end of the source everything reads as zeros, which the walk
  // would otherwise step over one by one for ever.
  const std::uint64_t end = bytes.sectorsLeft() * bytes.sectorBytes();

  std::uint64_t pos = 13;
  const std::uint8_t screen = bytes.u8(10);
  if (screen & 0x80) pos += ColourTableBytes(screen);

  while (context.running() && pos < end) {
    const std::uint8_t b = bytes.u8(pos);
    if (b == 0x3B) {
      record.detectedSize = RecordSize(pos + 1);
      return 1;
    }
    if (b == 0x00) {
      // Stray terminators and padding; skip a whole run of them at once.
      const Bytes run = bytes.Run(pos);
      const auto limit = static_cast<std::size_t>(std::min<std::uint64_t>(run.size(), end - pos));
      std::size_t zeros = 1;
      while (zeros < limit && run[zeros] == 0)
        ++zeros;
      pos += zeros;
    } else if (b == 0x21) {
      // Label and first sub-block, then one more sub-block if there is one:
      // enough for the graphic-control and looping extensions.
      pos += 3 + std::uint64_t{bytes.u8(pos + 2)};
      const std::uint8_t more = bytes.u8(pos);
      if (more != 0) pos += 1 + std::uint64_t{more};
    } else if (b == 0x2C) {
      const std::uint8_t flags = bytes.u8(pos + 9);
      pos += 10;
      if (flags & 0x80) pos += ColourTableBytes(flags);
      // pos is on the LZW code size. Encoders write full sub-blocks of one
      // size and a shorter last one, so the data runs while the size stays
      // that of the first; pos then stands on the last byte of a sub-block.
      const std::uint8_t first = bytes.u8(pos + 1);
      std::uint8_t size = 0;
      do {
        size = bytes.u8(pos + 1);
        pos += 1 + std::uint64_t{size};
      } while (size == first && size != 0 && context.running() && pos < end);
      // A zero just read was the terminator itself (the data was one
      // sub-block, or a whole number of full ones), so the next block
      // follows it; otherwise the terminator is still ahead.
      pos += size == 0 ? 1 : 2 + std::uint64_t{bytes.u8(pos + 1)};
    } else {
      break;
    }
  }

  record.detectedSize = RecordSize(pos);
  return 1;
}

}  // namespace restorix
