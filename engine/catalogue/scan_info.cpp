#include "catalogue/scan_info.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <vector>

#include "disk/imaging.h"
#include "disk/partitions.h"
#include "fs/item_reader.h"
#include "fs/recoverability.h"
#include "platform/file_io.h"
#include "util/text.h"

namespace restorix {

namespace {

constexpr std::array<std::uint8_t, 4> kMagic = {0x54, 0x41, 0x46, 0x2D};  // "TAF-"
// What the writer stores in a link slot whose link exists.
constexpr std::uint32_t kLinkPresent = 1;

// Items keep their extents in the file on NTFS and on a source without a
// file system (carved items: one extent holding the first sector); on FAT
// the id alone says where an item starts.
bool ItemsKeepExtents(FsType fsType) {
  return fsType == FsType::None || fsType == FsType::Ntfs;
}

// The extents an item stores.
std::vector<Extent> StoredExtents(const ItemNode& node) {
  if (const auto* record = std::get_if<NtfsRecord>(&node.location)) return record->extents;
  if (const auto* carved = std::get_if<Carved>(&node.location)) return {{carved->firstSector, 0}};
  return {};
}

// An exFAT item whose clusters have no FAT chain keeps that in a bit of its
// stored flags that no other file system uses there.
constexpr std::uint8_t kStoredContiguous = 0x04;

std::uint8_t StoredFlags(const ItemNode& node) {
  const auto* chain = std::get_if<FatChain>(&node.location);
  return static_cast<std::uint8_t>(static_cast<std::uint8_t>(node.flags) |
                                   (chain && chain->contiguous ? kStoredContiguous : 0));
}

// Where a loaded item's data lies, from what the file stores.
ItemLocation LocationOf(const ItemNode& node, FsType fsType, std::vector<Extent> extents) {
  if (node.isCarved()) {
    return Carved{ItemsKeepExtents(fsType) ? (extents.empty() ? 0 : extents.front().start)
                                           : node.id};
  }
  switch (fsType) {
    case FsType::Ntfs:
      return NtfsRecord{node.id, std::move(extents)};
    case FsType::Fat16:
    case FsType::Fat32:
      return FatChain{node.id};
    case FsType::Exfat:
      return FatChain{node.id, (static_cast<std::uint8_t>(node.flags) & kStoredContiguous) != 0};
    default:
      return std::monostate{};
  }
}

// Buffered little-endian output to a file.
class Writer {
 public:
  explicit Writer(int fd) : fd_(fd) {}
  void Put(Bytes bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    if (buffer_.size() >= (1 << 20)) Flush();
  }
  template <typename T>
  void Put(T value) {
    std::array<std::uint8_t, sizeof(T)> bytes{};
    StoreLE<T>(bytes, 0, value);
    Put(Bytes(bytes));
  }
  void Name(const std::u16string& name) {
    Put<std::uint16_t>(static_cast<std::uint16_t>(name.size()));
    for (const char16_t unit : name)
      Put<std::uint16_t>(unit);
  }
  void Flush() {
    WriteOrAbort(fd_, buffer_);
    buffer_.clear();
  }

 private:
  int fd_;
  std::vector<std::uint8_t> buffer_;
};

void PutNode(Writer& out, const ItemNode& node, bool moreSiblings, bool isRoot,
             const std::vector<Extent>& extents) {
  // The size the file system claims: loading cuts it again to what the
  // volume holds. A carved item's size is the search's own choice (a guess
  // cut at the next file found), kept as it is.
  out.Put<std::uint64_t>(node.claimedSize != 0 && !node.isCarved() ? node.claimedSize : node.size);
  out.Put<std::uint32_t>(moreSiblings ? kLinkPresent : 0);
  out.Put<std::uint32_t>(node.firstChild ? kLinkPresent : 0);
  out.Put<std::uint32_t>(isRoot ? 0 : kLinkPresent);
  out.Put<std::uint32_t>(extents.empty() ? 0 : kLinkPresent);
  out.Put<std::uint32_t>(node.id);
  out.Put<std::uint32_t>(node.parentId);
  out.Put<std::uint32_t>(node.name.empty() ? 0 : kLinkPresent);
  out.Put<std::uint16_t>(node.createDate);
  out.Put<std::uint16_t>(node.accessDate);
  out.Put<std::uint8_t>(StoredFlags(node));
  out.Put<std::uint8_t>(node.nameLength());
  out.Put<std::uint8_t>(node.checked);
  out.Put<std::uint8_t>(static_cast<std::uint8_t>(node.origin));
  out.Name(node.name);
  for (std::size_t i = 0; i < extents.size(); ++i) {
    out.Put<std::uint64_t>(extents[i].start);
    out.Put<std::uint32_t>(i + 1 < extents.size() ? kLinkPresent : 0);
    out.Put<std::uint16_t>(extents[i].length);
  }
}

// Buffered input that reads as zeros past the end of the file.
class Reader {
 public:
  explicit Reader(int fd) : fd_(fd) {}
  bool ended() const { return ended_; }
  // Fills `out`; false (with the missing bytes zero) when the file ended.
  bool Get(MutableBytes out) {
    std::size_t done = 0;
    while (done < out.size()) {
      if (pos_ == buffer_.size()) {
        buffer_.resize(1 << 20);
        buffer_.resize(ReadOrAbort(fd_, buffer_));
        pos_ = 0;
        if (buffer_.empty()) {
          std::fill(out.begin() + static_cast<std::ptrdiff_t>(done), out.end(), 0);
          ended_ = true;
          return false;
        }
      }
      const std::size_t n = std::min(out.size() - done, buffer_.size() - pos_);
      std::copy_n(buffer_.begin() + static_cast<std::ptrdiff_t>(pos_), n,
                  out.begin() + static_cast<std::ptrdiff_t>(done));
      pos_ += n;
      done += n;
    }
    return true;
  }
  template <typename T>
  T Get() {
    std::array<std::uint8_t, sizeof(T)> bytes{};
    Get(bytes);
    return LoadLE<T>(bytes, 0);
  }
  std::u16string Name() {
    const std::uint16_t length = Get<std::uint16_t>();
    std::u16string name;
    for (std::uint16_t i = 0; i < length && !ended_; ++i)
      name += static_cast<char16_t>(Get<std::uint16_t>());
    return name;
  }

 private:
  int fd_;
  std::vector<std::uint8_t> buffer_;
  std::size_t pos_ = 0;
  bool ended_ = false;
};

struct Slots {
  bool next = false, firstChild = false, extents = false;
};

// Reads one node image and the name after it into `node`. False when the
// file ended inside the image.
bool GetNode(Reader& in, ItemNode& node, Slots& slots) {
  std::array<std::uint8_t, kNodeImageBytes> image{};
  if (!in.Get(image)) return false;
  node.size = le64(image, 0);
  slots.next = le32(image, 8) != 0;
  slots.firstChild = le32(image, 12) != 0;
  slots.extents = le32(image, 20) != 0;
  node.id = le32(image, 24);
  node.parentId = le32(image, 28);
  node.createDate = le16(image, 36);
  node.accessDate = le16(image, 38);
  node.flags = static_cast<ItemFlags>(image[40]);
  node.checked = image[42];
  node.origin = static_cast<ItemOrigin>(image[43]);
  node.name = in.Name();
  return true;
}

std::vector<Extent> GetExtents(Reader& in) {
  std::vector<Extent> extents;
  bool more = true;
  while (more && !in.ended()) {
    std::array<std::uint8_t, kExtentImageBytes> image{};
    if (!in.Get(image)) break;
    extents.push_back({le64(image, 0), le16(image, 12)});
    more = le32(image, 8) != 0;
  }
  return extents;
}

// The children blocks under the root, folder after folder in depth-first
// order, read without recursion.
void GetChildren(Reader& in, ItemTree& tree, FsType fsType) {
  const bool withExtents = ItemsKeepExtents(fsType);
  std::vector<ItemNode*> pending{tree.root()};
  while (!pending.empty() && !in.ended()) {
    ItemNode* folder = pending.back();
    pending.pop_back();
    std::vector<ItemNode*> withBlocks;
    ItemNode* previous = nullptr;
    for (bool more = true; more;) {
      ItemNode* node = tree.NewNode();
      Slots slots;
      if (!GetNode(in, *node, slots)) {  // the file ended: the list ends here
        tree.Discard(node);
        break;
      }
      std::vector<Extent> extents;
      if (withExtents && slots.extents) extents = GetExtents(in);
      node->location = LocationOf(*node, fsType, std::move(extents));
      if (fsType == FsType::Exfat)
        node->flags =
            static_cast<ItemFlags>(static_cast<std::uint8_t>(node->flags) & ~kStoredContiguous);
      tree.AddChildAfter(folder, previous, node);
      previous = node;
      if (slots.firstChild) withBlocks.push_back(node);
      more = slots.next;
    }
    pending.insert(pending.end(), withBlocks.rbegin(), withBlocks.rend());
  }
}

// Whether a reopened volume is the one the scan was made of: the whole
// context, geometry and serial number alike. A FAT serial number of 0 in the
// file (a volume without one, or a file saved before FAT serial numbers were
// kept) matches any.
bool SameVolume(const VolumeContext& stored, const VolumeContext& now) {
  if (stored == now) return true;
  const bool fat = stored.fsType() == FsType::Fat16 || stored.fsType() == FsType::Fat32;
  if (!fat || stored.volumeSerial() != 0) return false;
  VolumeContext withoutSerial = now;
  withoutSerial.setVolumeSerial(0);
  return withoutSerial == stored;
}

// Opens the stored source again. A volume that was one partition of a disk
// image is found among the image's partitions by its geometry. A source that
// opens but holds no volume like the scanned one is refused: the scan's
// items would be read from the wrong places.
OpenResult Reopen(const std::filesystem::path& path, const VolumeContext& stored,
                  std::uint64_t offset) {
  const OpenResult other{nullptr, OpenFailure::OtherVolume, 0};
  if (offset != 0) {
    const SourceKind kind =
        stored.fsType() == FsType::None ? SourceKind::PhysicalDisk : SourceKind::LogicalDrive;
    OpenResult result = Volume::Open(kind, path, 0, false, offset);
    return !result || SameVolume(stored, result.volume->context()) ? result : other;
  }
  if (stored.fsType() == FsType::None) {
    OpenResult disk = Volume::Open(SourceKind::PhysicalDisk, path);
    return !disk || SameVolume(stored, disk.volume->context()) ? disk : other;
  }
  OpenResult result = Volume::Open(SourceKind::LogicalDrive, path);
  if (result && SameVolume(stored, result.volume->context())) return result;
  bool opened = static_cast<bool>(result);
  for (const PartitionEntry& partition : ListPartitions(path).entries) {
    OpenResult probe =
        Volume::Open(SourceKind::LogicalDrive, path, static_cast<unsigned>(partition.number));
    if (probe && SameVolume(stored, probe.volume->context())) return probe;
    opened = opened || probe;
  }
  return opened ? other : result;
}

}  // namespace

bool SaveScanInfo(const std::filesystem::path& path, const std::u16string& sourceName,
                  const VolumeContext& context, const ItemTree& tree, int* error) {
  ReplacementFile file(path);
  const auto failed = [&](int code) {
    if (error != nullptr) *error = code;
    return false;
  };
  if (file.fd() < 0) return failed(file.error());
  try {
    Writer out(file.fd());
    out.Put(Bytes(kMagic));
    out.Put<std::uint32_t>(kScanInfoVersion);
    out.Name(sourceName);
    out.Put(Bytes(context.bytes()));
    const ItemNode empty;
    const ItemNode& root = tree.root() ? *tree.root() : empty;
    const bool withExtents = ItemsKeepExtents(context.fsType());
    PutNode(out, root, false, true, {});
    std::vector<const ItemNode*> pending{&root};
    while (!pending.empty()) {
      const ItemNode* folder = pending.back();
      pending.pop_back();
      std::vector<const ItemNode*> withBlocks;
      for (const ItemNode* child = folder->firstChild; child; child = child->next) {
        PutNode(out, *child, child->next != nullptr, false,
                withExtents ? StoredExtents(*child) : std::vector<Extent>{});
        if (child->firstChild) withBlocks.push_back(child);
      }
      pending.insert(pending.end(), withBlocks.rbegin(), withBlocks.rend());
    }
    out.Flush();
  } catch (const DeviceLostError& lost) {
    return failed(lost.error());
  }
  const int committed = file.Commit();
  return committed == 0 || failed(committed);
}

LoadResult ReadScanInfo(const std::filesystem::path& path) {
  LoadResult result;
  result.reopened.failure = OpenFailure::CannotOpen;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    result.error = errno;
    return result;
  }
  Reader in(fd.get());
  try {
    std::array<std::uint8_t, 8> header{};
    if (!in.Get(header) || !std::equal(kMagic.begin(), kMagic.end(), header.begin()) ||
        le32(header, 4) != kScanInfoVersion) {
      return result;
    }
  } catch (const DeviceLostError& lost) {  // a folder, an unreadable file
    result.error = lost.error();
    return result;
  }
  try {
    result.sourceName = in.Name();
    std::array<std::uint8_t, VolumeContext::kSize> block{};
    in.Get(block);
    result.context = VolumeContext::Decode(block);

    ItemNode* root = result.tree.NewRoot();
    Slots slots;
    GetNode(in, *root, slots);
    if (slots.firstChild) GetChildren(in, result.tree, result.context.fsType());
    result.truncated = in.ended();
  } catch (const DeviceLostError&) {
    result.truncated = true;
  }
  result.loaded = true;
  result.volume = Volume::Detached(result.sourceName, result.context);
  return result;
}

LoadResult LoadScanInfo(const std::filesystem::path& path,
                        const std::filesystem::path& sourceOverride, std::uint64_t offset) {
  LoadResult result = ReadScanInfo(path);
  if (!result.loaded) return result;
  const std::filesystem::path source = sourceOverride.empty()
                                           ? std::filesystem::path(Utf8FromUtf16(result.sourceName))
                                           : sourceOverride;
  result.reopened = Reopen(source, result.context, offset);
  if (result.reopened) {
    result.volume = result.reopened.volume;
    try {
      CutSizesAndAssess(*result.volume, result.tree, StopToken{}, true);
    } catch (const DeviceLostError& lost) {
      result.reopened = {nullptr, OpenFailure::CannotOpen, lost.error()};
      result.volume = Volume::Detached(result.sourceName, result.context);
    }
  }
  return result;
}

std::string ScanInfoFileName(const std::tm& local) {
  return "QN_RSX_Scan_Info# " + DateStamp(local);
}

std::filesystem::path WithScanInfoExtension(const std::filesystem::path& chosen) {
  if (chosen.extension() == ".qns") return chosen;
  std::filesystem::path path = chosen;
  path += ".qns";
  return path;
}

}  // namespace restorix
