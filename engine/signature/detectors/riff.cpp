// RIFF files of any form (WAVE, AVI, WebP, ...): "RIFF", a 32-bit size and
// the form type, then chunks (an ID, a size, the data padded to an even
// length). The file is the RIFF size + 8 bytes exactly, and an AVI of more
// than one RIFF carries on with "AVIX" RIFFs right after the first. The
// chunks are walked to check that size: the walk may skip over a file whose
// chunks end where its size says, not one whose size may be damaged.

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

constexpr std::uint64_t kRiffHeader = 8;
constexpr std::uint64_t kChunkHeader = 8;
constexpr int kMaxChunks = 4096;  // top-level chunks walked

bool IsChunkId(SourceBytes& bytes, std::uint64_t pos) {
  for (std::uint64_t i = 0; i < 4; ++i) {
    const std::uint8_t c = bytes.u8(pos + i);
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

struct Form {
  std::string_view type, extension, category;
};
constexpr Form kForms[] = {
    {"WAVE", "wav", "Audio"},    {"AVI ", "avi", "Video"}, {"WEBP", "webp", "Graphics"},
    {"RMID", "rmi", "Audio"},    {"sfbk", "sf2", "Audio"}, {"DLS ", "dls", "Audio"},
    {"ACON", "ani", "Graphics"},
};

// True when the chunks from 12 on end where the RIFF does (`end`), the last
// one's pad byte left out or not.
bool ChunksFill(DetectorContext& context, SourceBytes& bytes, std::uint64_t end) {
  std::uint64_t pos = kRiffHeader + 4;
  for (int n = 0; n < kMaxChunks && pos + kChunkHeader <= end && context.running(); ++n) {
    if (!IsChunkId(bytes, pos)) return false;
    const std::uint64_t size = bytes.le32(pos + 4);
    pos += kChunkHeader + size;
    if (pos == end) return true;
    pos += size & 1;
  }
  return pos == end;
}

}  // namespace

std::uint32_t DetectRiff(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 16);
  if (!bytes.Matches(0, "RIFF") || !IsChunkId(bytes, 8) || !IsChunkId(bytes, 12)) return 0;
  const std::uint64_t riffSize = bytes.le32(4);
  if (riffSize < 4 + kChunkHeader || bytes.le32(16) > riffSize - 4 - kChunkHeader) return 0;
  for (const Form& form : kForms) {
    if (bytes.Matches(8, form.type)) {
      record.SetExtension(form.extension);
      record.SetCategory(form.category);
    }
  }
  std::uint64_t end = kRiffHeader + riffSize;
  const bool whole = ChunksFill(context, bytes, end);
  if (bytes.Matches(8, "AVI ")) {
    while (context.running() && bytes.Matches(end, "RIFF") && bytes.Matches(end + 8, "AVIX"))
      end += kRiffHeader + bytes.le32(end + 4);
  }
  return whole ? ConfirmAndSkip(record, end) : ConfirmSize(record, end);
}

}  // namespace restorix
