// Photoshop documents (PSD, and PSB for large ones): a 26-byte header, then
// three sections that each begin with their length (colour-mode data, image
// resources, layers and masks), then the merged image: a compression word
// and the pixel rows, raw or run-length encoded with the byte count of every
// row stored ahead of them.

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

constexpr std::uint64_t kHeader = 26;

}  // namespace

std::uint32_t DetectPsd(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 64);
  const std::uint16_t version = bytes.be16(4);
  const std::uint64_t channels = bytes.be16(12);
  const std::uint64_t height = bytes.be32(14), width = bytes.be32(18);
  const std::uint16_t depth = bytes.be16(22), mode = bytes.be16(24);
  const std::uint64_t largest = version == 2 ? 300000 : 30000;
  const bool depthKnown = depth == 1 || depth == 8 || depth == 16 || depth == 32;
  const bool modeKnown = mode <= 4 || (mode >= 7 && mode <= 9);
  if ((version != 1 && version != 2) || bytes.be32(6) != 0 || bytes.be16(10) != 0 || channels < 1 ||
      channels > 56 || height < 1 || height > largest || width < 1 || width > largest ||
      !depthKnown || !modeKnown) {
    return 0;
  }
  // Colour-mode data, image resources, layers and masks (a 64-bit length
  // in PSB).
  const std::uint64_t limit = bytes.bytesLeft();
  std::uint64_t pos = kHeader;
  for (const std::uint64_t lengthBytes : {4u, 4u, version == 2 ? 8u : 4u}) {
    const std::uint64_t length = lengthBytes == 8 ? bytes.be64(pos) : bytes.be32(pos);
    const auto next = CheckedAdd(pos + lengthBytes, length);
    if (!next || *next > limit) return 0;
    pos = *next;
  }

  const std::uint16_t compression = bytes.be16(pos);
  pos += 2;
  const std::uint64_t rowBytes = depth == 1 ? (width + 7) / 8 : width * (depth / 8);
  const std::uint64_t rows = channels * height;
  if (compression == 0) return ConfirmAndSkip(record, pos + rows * rowBytes);
  if (compression != 1) return 1;  // deflated: no length to find, the assumed size

  // Run-length rows: a count per row (2 bytes, 4 in PSB), then the rows.
  const std::uint64_t countBytes = version == 2 ? 4 : 2;
  const std::uint64_t longestRow = rowBytes + (rowBytes + 127) / 128;
  if (pos + rows * countBytes > limit) return 0;  // the counts run past the source
  std::uint64_t data = 0;
  for (std::uint64_t row = 0; row < rows; ++row) {
    if (row % 4096 == 0 && !context.running()) return 0;
    const std::uint64_t at = pos + row * countBytes;
    const std::uint64_t count = countBytes == 4 ? bytes.be32(at) : bytes.be16(at);
    if (count > longestRow) return 0;
    data += count;
  }
  return ConfirmAndSkip(record, pos + rows * countBytes + data);
}

}  // namespace restorix
