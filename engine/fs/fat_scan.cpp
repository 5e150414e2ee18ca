#include "fs/fat_scan.h"

#include <algorithm>
#include <memory>
#include <unordered_set>

#include "disk/volume.h"
#include "fs/fat_data.h"

namespace restorix {

namespace {

constexpr std::size_t kEntryBytes = 32;
constexpr std::size_t kMaxLongName = 255;
constexpr std::uint8_t kDeletedMark = 0xE5;
constexpr std::uint8_t kAttributeLabel = 0x08;
constexpr std::uint8_t kAttributeFolder = 0x10;
constexpr std::uint8_t kAttributeLongName = 0x0F;
// Attribute bytes that no entry of a real folder carries: above archive +
// folder (0x30) the bytes are not an entry at all, and folder + volume label
// (0x18) cannot be; either ends the folder.
constexpr std::uint8_t kMaxEntryAttribute = 0x30;
constexpr std::uint8_t kFolderAndLabel = 0x18;
// Attribute bytes passed over: beyond archive + folder + label (0x38). A 0
// byte is an ordinary file whose archive bit was cleared.
constexpr std::uint8_t kMaxKeptAttribute = 0x38;
// The case bits of byte 12 that the system itself writes (lower-case base
// name 0x08, lower-case extension 0x10); an entry with any other bits there
// is passed over.
constexpr std::uint8_t kCaseBits = 0x18;

bool IsDotEntries(Bytes buffer) {
  static constexpr char kDot[] = ".          ";
  static constexpr char kDotDot[] = "..         ";
  return buffer.size() >= 64 && std::equal(kDot, kDot + 11, buffer.begin()) &&
         std::equal(kDotDot, kDotDot + 11, buffer.begin() + 32);
}

// The 13 UTF-16 units of one long-name entry, ended at the first 0 unit.
// Blanks are not dropped here: a piece may well end in the blank between two
// words; only the whole name loses trailing fill (see TrimLongName).
std::u16string LongNamePiece(Bytes entry) {
  static constexpr std::pair<int, int> kSpans[] = {{1, 5}, {14, 6}, {28, 2}};
  std::u16string piece;
  for (const auto& [from, count] : kSpans) {
    for (int i = 0; i < count; ++i) {
      const char16_t unit = le16(entry, static_cast<std::size_t>(from + 2 * i));
      if (unit == 0) return piece;
      piece += unit;
    }
  }
  return piece;
}

void TrimLongName(std::u16string& name) {
  while (!name.empty() && (name.back() == u' ' || name.back() == 0xFFFF))
    name.pop_back();
}

// The 8.3 name as it stands: each byte one unit, no code page; a deleted
// entry's lost first letter shows as "X".
std::u16string ShortName(Bytes entry) {
  std::u16string name;
  int end = 8;
  while (end > 0 && entry[end - 1] == ' ')
    --end;
  for (int i = 0; i < end; ++i)
    name += static_cast<char16_t>(entry[i]);
  int extension = 11;
  while (extension > 8 && entry[extension - 1] == ' ')
    --extension;
  if (extension > 8) {
    name += u'.';
    for (int i = 8; i < extension; ++i)
      name += static_cast<char16_t>(entry[i]);
  }
  if (entry[0] == kDeletedMark && !name.empty()) name[0] = u'X';
  return name;
}

bool Skipped(Bytes entry, std::uint32_t cluster, const VolumeContext& c) {
  const std::uint8_t attribute = entry[11];
  const std::uint8_t caseBits = entry[12];
  return cluster > c.fatEntryCount() || cluster <= c.fatKind() || attribute > kMaxKeptAttribute ||
         attribute == kFolderAndLabel || (caseBits & ~kCaseBits) != 0;
}

// Puts a new node in front of the folder's children, unless it is a live
// file (dropped) or a deleted folder of the same first cluster is there
// already (which takes the new node's flags and name).
void KeepOrMerge(ItemTree& tree, ItemNode* node, ItemNode* folder,
                 std::unordered_map<std::uint32_t, ItemNode*>& deleted) {
  if (node->flags == ItemFlags::Live) {
    tree.Discard(node);
    return;
  }
  if (const auto found = deleted.find(node->id); found != deleted.end()) {
    ItemNode* old = found->second;
    old->flags = node->flags;
    old->name = std::move(node->name);
    if (old->flags != ItemFlags::Folder) deleted.erase(found);
    tree.Discard(node);
    return;
  }
  tree.AddChild(folder, node);
  if (node->flags == ItemFlags::Folder) deleted.emplace(node->id, node);
}

}  // namespace

std::uint8_t FatShortNameSum(Bytes entry) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 11; ++i)
    sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry[i]);
  return sum;
}

bool ParseFatDirectoryBuffer(const VolumeContext& c, ItemTree& tree, Bytes buffer, ItemNode* folder,
                             FolderParse& parse) {
  std::size_t o = u8(buffer, 11) == kAttributeLabel ? kEntryBytes : 0;
  const auto ended = [&] {
    parse.longName.clear();
    parse.collecting = parse.longNameTooLong = false;
    parse.longNameSum.reset();
    return true;
  };

  if (IsDotEntries(buffer)) {
    const std::uint32_t self = FatFirstCluster(buffer);
    std::uint32_t parent = FatFirstCluster(buffer.subspan(32));
    if (parent == 0) parent = c.fatKind();
    // The clusters must still hold this very folder.
    if (folder->id != self || folder->parentId != parent ||
        folder->createDate != le16(buffer, 48)) {
      return ended();
    }
    if (tree.RegisterFolder(folder) != folder) return ended();  // met before
    o = 2 * kEntryBytes;
  }

  for (; o + kEntryBytes <= buffer.size(); o += kEntryBytes) {
    const Bytes entry = buffer.subspan(o, kEntryBytes);
    const std::uint8_t attribute = entry[11];
    // The entry after a run of long-name entries is taken as its short entry.
    const bool firstPiece = !parse.collecting;
    if (!parse.collecting) {
      if (entry[0] == 0 || attribute > kMaxEntryAttribute || attribute == kFolderAndLabel)
        return ended();
      parse.collecting = attribute == kAttributeLongName && entry[12] == 0;
    }
    if (parse.collecting && attribute == kAttributeLongName) {
      // Past the longest name the pieces are no longer kept: a damaged
      // folder can hold tens of thousands of them.
      if (!parse.longNameTooLong) {
        // A name's pieces run from the one marked last (0x40) down: a run
        // that starts elsewhere lost its first pieces.
        const bool marked = entry[0] == kDeletedMark || (entry[0] & 0x40) != 0;
        if (firstPiece) parse.longNameSum = marked ? std::optional(entry[13]) : std::nullopt;
        if (parse.longNameSum != entry[13]) parse.longNameSum.reset();
        parse.longName.insert(0, LongNamePiece(entry));
        parse.longNameTooLong = parse.longName.size() > kMaxLongName;
      }
      continue;
    }
    const bool sumFails = entry[0] != kDeletedMark && parse.longNameSum != FatShortNameSum(entry);
    std::u16string longName = parse.longNameTooLong || sumFails ? std::u16string() : parse.longName;
    TrimLongName(longName);
    parse.longName.clear();
    parse.collecting = parse.longNameTooLong = false;
    parse.longNameSum.reset();

    const std::uint32_t cluster = FatFirstCluster(entry);
    if (Skipped(entry, cluster, c)) continue;
    ItemNode* node = tree.NewNode();
    node->name = !longName.empty() ? longName : ShortName(entry);
    node->size = le32(entry, 28);
    node->id = cluster;
    node->location = FatChain{cluster};
    node->parentId = folder->id;
    node->createDate = le16(entry, 16);
    node->accessDate = le16(entry, 18);
    node->times = {FatItemTime(le16(entry, 16), le16(entry, 14), entry[13]),
                   FatItemTime(le16(entry, 24), le16(entry, 22)), FatItemTime(le16(entry, 18), 0)};
    node->flags = (entry[11] & kAttributeFolder ? ItemFlags::Folder : ItemFlags::None) |
                  (entry[0] != kDeletedMark ? ItemFlags::Live : ItemFlags::None);
    // Everything inside a deleted folder counts as deleted.
    if (folder->flags == ItemFlags::Folder) node->flags = node->flags & ~ItemFlags::Live;
    KeepOrMerge(tree, node, folder, parse.deleted);
  }
  return false;
}

bool ReadFatFolder(const Volume& volume, ItemTree& tree, ItemNode* folder) {
  if (folder->id == 0) return true;
  FolderParse parse;
  bool own = true;
  bool first = true;
  ReadFatFolderBuffers(volume, folder->id, [&](Bytes buffer) {
    const bool ended = ParseFatDirectoryBuffer(volume.context(), tree, buffer, folder, parse);
    // Dot entries that did not get the folder registered failed the check.
    if (first) own = !IsDotEntries(buffer) || tree.FindFolder(folder->id) == folder;
    first = false;
    return ended;
  });
  return own;
}

void ScanFatFolderTree(const Volume& volume, ItemTree& tree, TaskControl task) {
  // Deleted files found and items done, for the progress report.
  std::uint64_t found = 0;
  std::uint32_t done = 0;
  // Depth first without recursion: each frame is a folder whose children are
  // being visited and the next child to visit.
  struct Frame {
    ItemNode* next;
  };
  std::unordered_set<std::uint32_t> read;
  std::vector<Frame> stack;
  const auto enter = [&](ItemNode* folder) {
    // Only a folder whose clusters turned out to be its own counts as read: a
    // deleted folder whose first cluster a newer folder took must not hide
    // that newer one.
    if (!read.contains(folder->id) && ReadFatFolder(volume, tree, folder)) read.insert(folder->id);
    for (const ItemNode* child = folder->firstChild; child; child = child->next) {
      found += !child->isFolder();
    }
    stack.push_back({folder->firstChild});
  };
  enter(tree.root());
  while (!stack.empty() && task.running()) {
    Frame& frame = stack.back();
    ItemNode* child = frame.next;
    if (child == nullptr) {
      stack.pop_back();
      continue;
    }
    frame.next = child->next;
    task.events.ScanProgress(done, found);
    if (child->isFolder()) {
      enter(child);
    } else {
      ++done;
    }
  }
}

}  // namespace restorix
