#include <algorithm>
#include <string_view>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

// True when the UTF-16LE name at `pos` begins with the ASCII `prefix`.
bool NameStartsWith(SourceBytes& bytes, std::uint64_t pos, std::string_view prefix) {
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (bytes.u8(pos + 2 * i) != static_cast<std::uint8_t>(prefix[i]) ||
        bytes.u8(pos + 2 * i + 1) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

// An OLE2 file is told by its directory: Word keeps a "WordDocument" stream
// and Excel a "Workbook" near the top; PowerPoint is what remains. The size
// is an upper bound (every allocation-table sector maps a sector's worth of
// 4-byte entries), which the carved copy can afford; the skip only goes past
// the directory, since a bound that loose would jump over other files.
// Positions count in the document's own sectors (512 bytes, or 4096 in
// version 4 files), whatever the sector size of the disk it lies on.
std::uint32_t DetectCompoundDocument(DetectorContext& context, std::uint64_t hit,
                                     SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 16);
  const unsigned shift = bytes.le16(30);
  const std::uint64_t sectorBytes = shift >= 9 && shift <= 16 ? std::uint64_t{1} << shift : 512;
  const std::uint64_t tableSectors = bytes.le32(44);
  const std::uint64_t directorySector = bytes.le32(48);
  const std::uint64_t directory = (directorySector + 1) * sectorBytes;
  if (!NameStartsWith(bytes, directory, "Root")) return 0;

  std::string_view extension = "ppt";
  for (std::uint64_t entry = 0; entry < 4; ++entry) {
    const std::uint64_t name = directory + entry * 128;
    if (NameStartsWith(bytes, name, "Word")) {
      extension = "doc";
      break;
    }
    if (NameStartsWith(bytes, name, "Work")) {
      extension = "xls";
      break;
    }
  }
  record.SetExtension(extension);
  const std::uint64_t size = (tableSectors * (sectorBytes / 4) + 1) * sectorBytes;
  record.detectedSize = RecordSize(size);
  record.skipLength = RecordSize((directorySector + 2) * sectorBytes);
  record.skipValid = 1;
  return 1;
}

}  // namespace restorix
