#include <optional>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

// A marker code is any byte but 00 (a stuffed data byte) and FF (fill).
bool IsMarkerCode(std::uint8_t code) {
  return code != 0x00 && code != 0xFF;
}

// The first FF D9 whose FF lies in [from, to). Entropy-coded data stuffs every
// FF data byte as FF 00, so the first FF D9 after the scan header is the EOI
// of a single-scan (baseline) image.
std::optional<std::uint64_t> FindEndOfImage(SourceBytes& bytes, std::uint64_t from,
                                            std::uint64_t to) {
  for (std::uint64_t p = from; p < to;) {
    const Bytes run = bytes.Run(p, 2);
    if (run.size() < 2) return std::nullopt;
    // Only pairs wholly inside the run; the last byte is looked at again as
    // the first of the next run.
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(run.size() - 1, to - p));
    for (std::size_t i = 0; i < n; ++i) {
      if (run[i] == 0xFF && run[i + 1] == 0xD9) return p + i;
    }
    p += n;
  }
  return std::nullopt;
}

}  // namespace

// Walks the marker segments from SOI to the first scan, then looks for the
// EOI within a span estimated from the frame size. Only baseline frames
// (SOF0) are taken: the frame size that bounds the search is read from SOF0,
// so a first scan reached without one (progressive, lossless...) refuses the
// hit.
std::uint32_t DetectJpeg(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 64);
  const std::uint64_t sectorBytes = bytes.sectorBytes();
  if (sectorBytes == 0) return 0;
  if (bytes.u8(2) != 0xFF || !IsMarkerCode(bytes.u8(3))) return 0;

  // Every segment moves pos on by at least three bytes, and past the end of
  // the source the bytes read as zeros, which is no marker: the walk ends.
  std::uint64_t pos = 2;
  std::uint32_t length = bytes.be16(4);
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  bool sawFrame = false;
  while (length != 0 && context.running()) {
    pos += 2 + std::uint64_t{length};
    const std::uint8_t lead = bytes.u8(pos);
    const std::uint8_t code = bytes.u8(pos + 1);
    if (lead == 0xFF && code == 0xC0) {
      height = bytes.be16(pos + 5);
      width = bytes.be16(pos + 7);
      sawFrame = true;
    }
    const bool atScan = lead == 0xFF && code == 0xDA;
    if (!atScan && (lead != 0xFF || !IsMarkerCode(code))) return 0;
    if (atScan && !sawFrame) return 0;
    length = bytes.be16(pos + 2);
    if (atScan) {
      pos += 2 + std::uint64_t{length};
      break;
    }
  }

  // The scan is searched in 64-sector windows stepped by 63, as far as a
  // compressed image of this frame size plausibly reaches. Windows that run
  // past the end of the source are still searched: an image in the last
  // sectors of a disk must get its real end.
  const std::uint64_t first = pos / sectorBytes;
  const std::uint64_t estimate = (width * height * 3 / 2) / sectorBytes;
  const std::uint64_t limit = estimate * 3 / 4;
  const std::uint64_t left = bytes.sectorsLeft();
  std::optional<std::uint64_t> end;
  std::uint64_t from = pos;
  for (std::uint64_t start = first; start < first + limit + 63 && start < left && context.running();
       start += 63) {
    // An FF in the window's last byte needs its D9 from the next window.
    const std::uint64_t to = (start + 64) * sectorBytes - 1;
    end = FindEndOfImage(bytes, from, to);
    if (end) break;
    from = to;
  }

  std::uint64_t size = 0;
  if (end) {
    size = *end + 2;
  } else if (first + estimate < left) {
    size = (first + estimate) * sectorBytes;
  } else if (left > 0) {
    size = (left - 1) * sectorBytes;
  }
  record.detectedSize = RecordSize(size);
  record.skipLength = RecordSize(size);
  // A guessed length is good enough for the carved copy but not for jumping
  // over what might be other files.
  if (end) record.skipValid = 1;
  return 1;
}

}  // namespace restorix
