// SQLite: a 100-byte header, then pages. The header gives the page size and,
// when the change counter agrees with the "version valid for" field, the
// number of pages; the file is exactly that many pages. A database written
// by a version that does not keep the page count has no length to find.

#include "signature/detectors/detectors.h"

namespace restorix {

std::uint32_t DetectSqlite(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 2);
  const std::uint32_t field = bytes.be16(16);
  const std::uint64_t pageSize = field == 1 ? 65536 : field;
  const bool powerOfTwo = (pageSize & (pageSize - 1)) == 0;
  const std::uint8_t write = bytes.u8(18), read = bytes.u8(19);
  // The payload fractions are fixed at 64, 32 and 32.
  if (pageSize < 512 || !powerOfTwo || write < 1 || write > 2 || read < 1 || read > 2 ||
      bytes.u8(21) != 64 || bytes.u8(22) != 32 || bytes.u8(23) != 32 ||
      bytes.u8(20) > pageSize - 480) {
    return 0;
  }
  const std::uint64_t pages = bytes.be32(28);
  if (pages == 0 || bytes.be32(24) != bytes.be32(92)) return 1;  // no length: the assumed size
  return ConfirmAndSkip(record, pages * pageSize);
}

}  // namespace restorix
