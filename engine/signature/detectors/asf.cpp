// ASF (WMV, WMA): objects of a 16-byte GUID and a 64-bit size. The Header
// object comes first; its File Properties object gives the size of the whole
// file unless the file was being broadcast (written live), and then the
// Data object and the index objects after the header are walked instead.
// The streams the header lists name it: any video stream makes it a WMV,
// audio alone a WMA.

#include <array>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

using Guid = std::array<std::uint8_t, 16>;

// GUIDs as the file stores them (the first three fields little-endian).
constexpr Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kStreamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                    0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kAudioMedia = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                              0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr Guid kVideoMedia = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                              0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr Guid kData = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
// The objects that may follow the Data object.
constexpr Guid kTrailing[] = {
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,  // Simple Index
     0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB},
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11,  // Index
     0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE},
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C,  // Media Object Index
     0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C},
    {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48,  // Timecode Index
     0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C},
};
constexpr std::uint64_t kObjectHeader = 24;
constexpr std::uint64_t kHeaderObjectHeader = 30;
constexpr std::uint64_t kHeaderLimit = 64 << 20;

bool IsGuid(SourceBytes& bytes, std::uint64_t pos, const Guid& guid) {
  return bytes.Matches(pos, {reinterpret_cast<const char*>(guid.data()), guid.size()});
}

}  // namespace

std::uint32_t DetectAsf(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 16);
  const std::uint64_t limit = bytes.bytesLeft();
  const std::uint64_t headerSize = bytes.le64(16);
  if (headerSize < kHeaderObjectHeader || headerSize > kHeaderLimit) return 0;

  // The header's objects.
  std::uint64_t fileSize = 0;
  bool broadcast = true, audio = false, video = false;
  for (std::uint64_t pos = kHeaderObjectHeader; pos + kObjectHeader <= headerSize;) {
    if (!context.running()) return 0;
    const std::uint64_t size = bytes.le64(pos + 16);
    if (size < kObjectHeader || size > headerSize - pos) return 0;
    if (IsGuid(bytes, pos, kFileProperties) && size >= 104) {
      fileSize = bytes.le64(pos + 40);
      broadcast = (bytes.le32(pos + 88) & 1) != 0;
    }
    if (IsGuid(bytes, pos, kStreamProperties)) {
      audio = audio || IsGuid(bytes, pos + 24, kAudioMedia);
      video = video || IsGuid(bytes, pos + 24, kVideoMedia);
    }
    pos += size;
  }
  if (!IsGuid(bytes, headerSize, kData)) return 0;
  record.SetExtension(video ? "wmv" : audio ? "wma" : "asf");
  record.SetCategory(video || !audio ? "Video" : "Audio");
  if (!broadcast && fileSize > headerSize) return ConfirmAndSkip(record, fileSize);

  // Written live: the Data object, then the index objects.
  const std::uint64_t dataSize = bytes.le64(headerSize + 16);
  const auto dataEnd = CheckedAdd(headerSize, dataSize);
  if (dataSize < kObjectHeader + 26 || !dataEnd || *dataEnd > limit) return 0;
  std::uint64_t pos = *dataEnd;
  while (pos < limit && context.running()) {
    bool known = false;
    for (const Guid& guid : kTrailing)
      known = known || IsGuid(bytes, pos, guid);
    const std::uint64_t size = bytes.le64(pos + 16);
    const auto end = CheckedAdd(pos, size);
    if (!known || size < kObjectHeader || !end || *end > limit) break;
    pos = *end;
  }
  return ConfirmAndSkip(record, pos);
}

}  // namespace restorix
