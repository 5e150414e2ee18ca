// ZIP and the formats built on it (Office Open XML, OpenDocument, EPUB, Java
// and Android packages). The archive is walked the way it was written: local
// entries one after another, then the central directory, then the end
// record, whose comment ends the file. The entry names tell what the archive
// holds, and the record is filed under that extension and category.

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "signature/detectors/detectors.h"
#include "signature/detectors/inflate.h"

namespace restorix {

namespace {

constexpr std::uint32_t kLocalHeader = 0x04034B50;
constexpr std::uint32_t kCentralHeader = 0x02014B50;
constexpr std::uint32_t kDigitalSignature = 0x05054B50;
constexpr std::uint32_t kEndRecord = 0x06054B50;
constexpr std::uint32_t kZip64EndRecord = 0x06064B50;
constexpr std::uint32_t kZip64Locator = 0x07064B50;
constexpr std::uint32_t kDataDescriptor = 0x08074B50;
constexpr std::uint32_t kArchiveExtraData = 0x08064B50;
constexpr std::uint64_t kLocalHeaderBytes = 30;
constexpr std::uint64_t kCentralHeaderBytes = 46;
constexpr std::uint64_t kEndRecordBytes = 22;
constexpr std::uint64_t kNamePrefix = 64;  // bytes of an entry name looked at

// What the entry names say the archive is.
struct Contents {
  bool first = true;
  bool mimetypeFirst = false;
  std::string mimetype;
  bool contentTypes = false, word = false, excel = false, powerPoint = false;
  bool androidManifest = false, javaManifest = false;

  void Add(std::string_view name) {
    const auto starts = [&](std::string_view prefix) { return name.starts_with(prefix); };
    if (first && name == "mimetype") mimetypeFirst = true;
    first = false;
    contentTypes = contentTypes || name == "[Content_Types].xml";
    word = word || starts("word/");
    excel = excel || starts("xl/");
    powerPoint = powerPoint || starts("ppt/");
    androidManifest = androidManifest || name == "AndroidManifest.xml";
    javaManifest = javaManifest || starts("META-INF/MANIFEST.MF");
  }

  // The extension and category, as the type table files them.
  std::pair<std::string_view, std::string_view> Kind() const {
    constexpr std::string_view kDocuments = "Documents", kArchives = "Archives";
    if (mimetypeFirst) {
      constexpr std::string_view kOpenDocument = "application/vnd.oasis.opendocument.";
      if (mimetype == "application/epub+zip") return {"epub", kDocuments};
      if (mimetype.starts_with(kOpenDocument)) {
        const std::string_view kind = std::string_view(mimetype).substr(kOpenDocument.size());
        if (kind == "text") return {"odt", kDocuments};
        if (kind == "spreadsheet") return {"ods", kDocuments};
        if (kind == "presentation") return {"odp", kDocuments};
      }
    }
    if (contentTypes && word) return {"docx", kDocuments};
    if (contentTypes && excel) return {"xlsx", kDocuments};
    if (contentTypes && powerPoint) return {"pptx", kDocuments};
    if (androidManifest) return {"apk", kArchives};
    if (javaManifest) return {"jar", kArchives};
    return {"zip", kArchives};
  }
};

std::string Text(SourceBytes& bytes, std::uint64_t pos, std::uint64_t length) {
  std::string text(static_cast<std::size_t>(std::min(length, kNamePrefix)), '\0');
  bytes.Read(pos, {reinterpret_cast<std::uint8_t*>(text.data()), text.size()});
  return text;
}

// How far the data of an entry that is not deflated, and whose sizes follow
// it, is searched for its data descriptor.
constexpr std::uint64_t kDescriptorSearch = 256 << 20;

// The end of the data descriptor after the `length` bytes of data at
// `data`, or 0 when none is there: a signature or not, 32- or 64-bit sizes.
std::uint64_t DescriptorEnd(SourceBytes& bytes, std::uint64_t data, std::uint64_t length,
                            bool zip64) {
  const std::uint64_t at = data + length;
  const std::uint64_t sizes = zip64 ? 16 : 8;
  const auto compressed = [&](std::uint64_t pos) {
    return zip64 ? bytes.le64(pos) : std::uint64_t{bytes.le32(pos)};
  };
  if (bytes.le32(at) == kDataDescriptor && compressed(at + 8) == length) return at + 8 + sizes;
  if (compressed(at + 4) == length) return at + 4 + sizes;
  return 0;
}

// Where the data of an entry whose sizes follow it ends: for deflated data
// where its stream ends; otherwise at the first data descriptor whose
// compressed size is the distance from `data`. Returns the position after
// the descriptor, or 0 when there is none.
std::uint64_t DataWithDescriptorEnd(DetectorContext& context, SourceBytes& bytes,
                                    std::uint64_t data, bool deflated, std::uint64_t limit) {
  if (deflated) {
    DeflateEnd deflate;
    const DeflateEnd::Stream stream = deflate.Find(context, bytes, data);
    if (stream.end == 0) return 0;
    const std::uint64_t length = stream.end - data;
    const std::uint64_t end = DescriptorEnd(bytes, data, length, false);
    return end != 0 ? end : DescriptorEnd(bytes, data, length, true);
  }
  limit = std::min(limit, data + kDescriptorSearch);
  std::uint64_t pos = data;
  while (pos < limit && context.running()) {
    const Bytes run = bytes.Run(pos);
    const std::uint64_t span = std::min<std::uint64_t>(run.size(), limit - pos);
    const auto* found = static_cast<const std::uint8_t*>(std::memchr(run.data(), 'P', span));
    if (found == nullptr) {
      pos += span;
      continue;
    }
    const std::uint64_t at = pos + static_cast<std::uint64_t>(found - run.data());
    const std::uint32_t signature = bytes.le32(at);
    if (signature == kDataDescriptor) {
      for (const bool zip64 : {false, true}) {
        if (DescriptorEnd(bytes, data, at - data, zip64) != 0)
          return DescriptorEnd(bytes, data, at - data, zip64);
      }
    }
    // A descriptor without its signature, right before the next header.
    if (signature == kLocalHeader || signature == kCentralHeader) {
      for (const std::uint64_t descriptor : {12u, 20u}) {
        if (at - data >= descriptor &&
            DescriptorEnd(bytes, data, at - data - descriptor, descriptor == 20) == at)
          return at;
      }
    }
    pos = at + 1;
  }
  return 0;
}

// The ZIP64 extended-information field of a local header's extra field: the
// 64-bit sizes stand in for the 32-bit ones that hold 0xFFFFFFFF.
void Zip64Sizes(SourceBytes& bytes, std::uint64_t extra, std::uint64_t extraLength,
                std::uint64_t& compressed, std::uint64_t& uncompressed) {
  for (std::uint64_t at = 0; at + 4 <= extraLength;) {
    const std::uint16_t id = bytes.le16(extra + at);
    const std::uint16_t length = bytes.le16(extra + at + 2);
    if (id == 0x0001) {
      std::uint64_t field = extra + at + 4;
      const std::uint64_t end = field + length;
      if (uncompressed == 0xFFFFFFFF && field + 8 <= end) {
        uncompressed = bytes.le64(field);
        field += 8;
      }
      if (compressed == 0xFFFFFFFF && field + 8 <= end) compressed = bytes.le64(field);
      return;
    }
    at += 4 + std::uint64_t{length};
  }
}

// A local header that could start an entry: a known version and method,
// and a name.
bool PlausibleLocalHeader(SourceBytes& bytes, std::uint64_t pos) {
  const std::uint16_t version = bytes.le16(pos + 4);
  const std::uint16_t method = bytes.le16(pos + 8);
  const bool knownMethod = method <= 20 || (method >= 93 && method <= 99);
  return version <= 63 && knownMethod && bytes.le16(pos + 26) != 0;
}

// The end of the APK signing block that may lie between the last entry and
// the central directory, or 0.
std::uint64_t SigningBlockEnd(SourceBytes& bytes, std::uint64_t pos, std::uint64_t limit) {
  const std::uint64_t size = bytes.le64(pos);
  const auto end = CheckedAdd(pos, size);
  if (size < 24 || !end || *end + 8 > limit) return 0;
  return bytes.Matches(*end + 8 - 16, "APK Sig Block 42") && bytes.le64(*end - 16) == size
             ? *end + 8
             : 0;
}

}  // namespace

std::uint32_t DetectZip(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 64);
  const std::uint64_t limit = bytes.bytesLeft();
  Contents contents;
  std::uint64_t pos = 0;
  std::uint64_t entries = 0;

  // The local entries, each header followed by its data (and descriptor).
  while (context.running() && bytes.le32(pos) == kLocalHeader && PlausibleLocalHeader(bytes, pos)) {
    const std::uint16_t flags = bytes.le16(pos + 6);
    std::uint64_t compressed = bytes.le32(pos + 18);
    std::uint64_t uncompressed = bytes.le32(pos + 22);
    const std::uint64_t nameLength = bytes.le16(pos + 26);
    const std::uint64_t extraLength = bytes.le16(pos + 28);
    const std::uint64_t name = pos + kLocalHeaderBytes;
    const std::uint64_t data = name + nameLength + extraLength;
    Zip64Sizes(bytes, name + nameLength, extraLength, compressed, uncompressed);
    const bool zip64 = compressed != bytes.le32(pos + 18) || uncompressed != bytes.le32(pos + 22);

    std::uint64_t next = 0;
    if ((flags & 0x0008) != 0 && compressed == 0 && uncompressed == 0) {
      next = DataWithDescriptorEnd(context, bytes, data, bytes.le16(pos + 8) == 8, limit);
    } else if (const auto end = CheckedAdd(data, compressed); end && *end <= limit) {
      next = *end;
      if ((flags & 0x0008) != 0) {
        const std::uint64_t sizes = zip64 ? 16 : 8;
        next += (bytes.le32(next) == kDataDescriptor ? 8 : 4) + sizes;
      }
    }
    if (next == 0 || next > limit) break;

    const std::string entryName = Text(bytes, name, nameLength);
    contents.Add(entryName);
    if (entries == 0 && contents.mimetypeFirst && bytes.le16(pos + 8) == 0)
      contents.mimetype = Text(bytes, data, compressed);
    ++entries;
    pos = next;
    if (bytes.le32(pos) == kArchiveExtraData) pos += 8 + std::uint64_t{bytes.le32(pos + 4)};
    if (const std::uint64_t end = SigningBlockEnd(bytes, pos, limit); end != 0) pos = end;
  }
  if (entries == 0) return 0;

  // The central directory and the records that close it.
  const std::uint64_t entriesEnd = pos;
  const std::uint64_t directory = pos;
  while (context.running() && bytes.le32(pos) == kCentralHeader && pos < limit) {
    pos += kCentralHeaderBytes + bytes.le16(pos + 28) + bytes.le16(pos + 30) + bytes.le16(pos + 32);
  }
  if (bytes.le32(pos) == kDigitalSignature) pos += 6 + std::uint64_t{bytes.le16(pos + 4)};
  std::uint64_t directoryOffset = 0xFFFFFFFF;
  if (bytes.le32(pos) == kZip64EndRecord) {
    directoryOffset = bytes.le64(pos + 48);
    const auto end = CheckedAdd(pos, bytes.le64(pos + 4));
    pos = end ? *end + 12 : limit;
  }
  if (bytes.le32(pos) == kZip64Locator) pos += 20;

  const auto [extension, category] = contents.Kind();
  record.SetExtension(extension);
  record.SetCategory(category);
  if (pos < limit && bytes.le32(pos) == kEndRecord) {
    if (bytes.le32(pos + 16) != 0xFFFFFFFF) directoryOffset = bytes.le32(pos + 16);
    // The end record of an archive that began at a later local header (an
    // archive whose own directory was lost, followed by another): this one
    // ends where that one begins.
    if (directoryOffset < directory && bytes.le32(directory - directoryOffset) == kLocalHeader)
      return ConfirmAndSkip(record, directory - directoryOffset);
    return ConfirmAndSkip(record, pos + kEndRecordBytes + bytes.le16(pos + 20));
  }
  // No end record: the entries that are whole, for a repair tool to read.
  return ConfirmAndSkip(record, entriesEnd);
}

}  // namespace restorix
