// PDF. A PDF ends with "startxref", the offset of its last cross-reference
// section, and "%%EOF"; an incremental update appends objects, a new
// section and another such end, and a linearised file has a first "%%EOF"
// (with startxref 0) after its first page. So the file ends at the first
// "%%EOF" whose startxref points at a cross-reference section of this file
// and that no further objects follow.

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

// How far a PDF is followed; one whose end is not found by then is refused.
constexpr std::uint64_t kScanLimit = std::uint64_t{1} << 30;
// Bytes before "%%EOF" in which "startxref" and its offset are looked for.
constexpr std::size_t kTrailerBytes = 48;

bool IsSpace(std::uint8_t c) {
  return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == '\0';
}
bool IsDigit(std::uint8_t c) {
  return c >= '0' && c <= '9';
}

// Reads an unsigned decimal at `pos`; nullopt when there is none. Moves pos
// past it.
std::optional<std::uint64_t> Number(SourceBytes& bytes, std::uint64_t& pos) {
  std::uint64_t value = 0;
  int digits = 0;
  for (std::uint8_t c = bytes.u8(pos); IsDigit(c) && digits < 19; c = bytes.u8(++pos), ++digits)
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  return digits == 0 ? std::nullopt : std::optional(value);
}

std::uint64_t SkipSpace(SourceBytes& bytes, std::uint64_t pos) {
  for (int n = 0; n < 64 && IsSpace(bytes.u8(pos)); ++n)
    ++pos;
  return pos;
}

// True when a cross-reference section starts at `pos`: the keyword "xref",
// or an indirect object ("12 0 obj", a cross-reference stream).
bool StartsSection(SourceBytes& bytes, std::uint64_t pos) {
  if (bytes.Matches(pos, "xref")) return true;
  if (!Number(bytes, pos) || !IsSpace(bytes.u8(pos))) return false;
  pos = SkipSpace(bytes, pos);
  if (!Number(bytes, pos) || !IsSpace(bytes.u8(pos))) return false;
  return bytes.Matches(SkipSpace(bytes, pos), "obj");
}

// The offset after "startxref" in the bytes before the "%%EOF" at `eof`.
std::optional<std::uint64_t> StartXref(SourceBytes& bytes, std::uint64_t eof) {
  if (eof < kTrailerBytes) return std::nullopt;
  std::array<std::uint8_t, kTrailerBytes> tail{};
  bytes.Read(eof - kTrailerBytes, tail);
  const std::string_view text(reinterpret_cast<const char*>(tail.data()), tail.size());
  const std::size_t keyword = text.rfind("startxref");
  if (keyword == std::string_view::npos) return std::nullopt;
  std::uint64_t pos = SkipSpace(bytes, eof - kTrailerBytes + keyword + 9);
  const auto offset = Number(bytes, pos);
  if (!offset || SkipSpace(bytes, pos) != eof) return std::nullopt;
  return offset;
}

}  // namespace

std::uint32_t DetectPdf(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 256);
  const std::uint64_t sectorBytes = bytes.sectorBytes();
  if (sectorBytes == 0 || !bytes.Matches(0, "%PDF-") || !IsDigit(bytes.u8(5)) ||
      bytes.u8(6) != '.' || !IsDigit(bytes.u8(7))) {
    return 0;
  }
  std::uint64_t limit = std::min(bytes.bytesLeft(), kScanLimit);
  std::uint64_t fallback = 0;  // the first end whose startxref points elsewhere
  std::uint64_t pos = 8;
  while (pos < limit && context.running()) {
    const Bytes run = bytes.Run(pos);
    std::uint64_t span = std::min<std::uint64_t>(run.size(), limit - pos);
    // Another PDF starting at a sector of this run ends the search there.
    for (std::uint64_t sector = (pos + sectorBytes - 1) / sectorBytes * sectorBytes;
         sector + 5 <= pos + span; sector += sectorBytes) {
      if (std::memcmp(run.data() + (sector - pos), "%PDF-", 5) == 0) {
        limit = sector;
        span = sector - pos;
        break;
      }
    }
    const auto* found = static_cast<const std::uint8_t*>(std::memchr(run.data(), '%', span));
    if (found == nullptr) {
      pos += span;
      continue;
    }
    const std::uint64_t eof = pos + static_cast<std::uint64_t>(found - run.data());
    pos = eof + 1;
    if (!bytes.Matches(eof, "%%EOF")) continue;
    const auto xref = StartXref(bytes, eof);
    if (!xref) continue;
    std::uint64_t end = eof + 5;
    if (bytes.u8(end) == '\r') ++end;
    if (bytes.u8(end) == '\n') ++end;
    // Objects or a section right after it: an update or the rest of a
    // linearised file follows.
    if (StartsSection(bytes, SkipSpace(bytes, end))) continue;
    if (*xref < eof && StartsSection(bytes, *xref)) return ConfirmAndSkip(record, end);
    if (fallback == 0) fallback = end;
  }
  return fallback != 0 ? ConfirmAndSkip(record, fallback) : 0;
}

}  // namespace restorix
