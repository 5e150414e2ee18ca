// 7z: a 32-byte start header (signature, version, then a CRC-32 over the
// next 20 bytes: the offset of the header at the end of the archive, its
// size and its CRC-32). The archive ends with that header.

#include <zlib.h>

#include <vector>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

constexpr std::uint64_t kStartHeader = 32;
// A header this long has its CRC checked as well; longer ones only their
// first byte.
constexpr std::uint64_t kCheckedHeader = 1 << 20;

std::uint32_t Crc32(SourceBytes& bytes, std::uint64_t pos, std::uint64_t length) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(length));
  bytes.Read(pos, data);
  return static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

}  // namespace

std::uint32_t DetectSevenZip(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 8);
  if (bytes.u8(6) != 0 || Crc32(bytes, 12, 20) != bytes.le32(8)) return 0;
  const std::uint64_t offset = bytes.le64(12);
  const std::uint64_t size = bytes.le64(20);
  const auto header = CheckedAdd(kStartHeader, offset);
  const auto end = header ? CheckedAdd(*header, size) : std::nullopt;
  if (!end || size == 0) return 0;
  // The header: plain (1) or packed (0x17).
  const std::uint8_t kind = bytes.u8(*header);
  if (kind != 0x01 && kind != 0x17) return 0;
  if (size <= kCheckedHeader && *end <= bytes.bytesLeft() &&
      Crc32(bytes, *header, size) != bytes.le32(28)) {
    return 0;
  }
  return ConfirmAndSkip(record, *end);
}

}  // namespace restorix
