#include <algorithm>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

constexpr std::uint32_t kFileHeaderBytes = 14;
constexpr std::uint32_t kCoreHeaderBytes = 12;  // OS/2 1.x: 16-bit sizes, 3-byte colours
// Pixel formats of the 40-byte header whose colour masks follow it.
constexpr std::uint32_t kBitfields = 3, kAlphaBitfields = 6;

bool KnownInfoHeader(std::uint32_t bytes) {
  return bytes == kCoreHeaderBytes || bytes == 40 || bytes == 52 || bytes == 56 || bytes == 108 ||
         bytes == 124;
}

bool KnownBitCount(std::uint16_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

// A bitmap: "BM", the file's size, two reserved words of 0 and where the
// pixels start, then an info header whose size names its kind (12: OS/2,
// 40, 52, 56, 108: V4, 124: V5), with one plane and a known bit count. The
// colour masks of a 40-byte header and the colour table lie between the
// header and the pixels. The file's size is the header's, unless that is too
// small to hold the pixels; then the pixels' end.
std::uint32_t DetectBmp(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 2);
  const std::uint32_t header = bytes.le32(kFileHeaderBytes);
  if (!bytes.Matches(0, "BM") || bytes.le32(6) != 0 || !KnownInfoHeader(header)) return 0;
  const bool core = header == kCoreHeaderBytes;
  const std::uint16_t planes = core ? bytes.le16(22) : bytes.le16(26);
  const std::uint16_t bits = core ? bytes.le16(24) : bytes.le16(28);
  if (planes != 1 || !KnownBitCount(bits)) return 0;
  const std::uint32_t compression = core ? 0 : bytes.le32(30);
  const std::uint32_t masks = header == 40 && compression == kBitfields        ? 12
                              : header == 40 && compression == kAlphaBitfields ? 16
                                                                               : 0;
  const std::uint64_t pixels = bytes.le32(10);
  if (pixels < std::uint64_t{kFileHeaderBytes} + header + masks) return 0;

  // Compressed pixels say their own length (0 when not given).
  std::uint64_t end = pixels + (core ? 0 : bytes.le32(34));
  if (compression == 0 || compression == kBitfields || compression == kAlphaBitfields) {
    // Rows of whole 32-bit words; a negative height is a top-down image.
    const std::uint64_t width = core ? bytes.le16(18) : bytes.le32(18);
    const std::int64_t height = core ? bytes.le16(20) : static_cast<std::int32_t>(bytes.le32(22));
    const std::uint64_t rowBytes = (width * bits + 31) / 32 * 4;
    const auto rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
    const auto stored = CheckedMul(rowBytes, rows);
    end = stored ? CheckedAdd(pixels, *stored).value_or(~std::uint64_t{0}) : ~std::uint64_t{0};
  }
  const std::uint64_t size = std::max<std::uint64_t>(bytes.le32(2), end);
  record.detectedSize = RecordSize(size);
  return 1;
}

}  // namespace restorix
