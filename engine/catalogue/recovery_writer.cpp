#include "catalogue/recovery_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "catalogue/recovery_names.h"
#include "engine.h"
#include "fs/fat_scan.h"
#include "fs/ntfs_data.h"
#include "util/text.h"

namespace restorix {

namespace {

constexpr std::uint32_t kCarvedBlockBytes = 1 << 20;
constexpr std::uint32_t kMaxRunFolders = 4294967294u;

// Errors of the destination that end the whole save: whatever comes next
// would fail the same way.
bool EndsTheSave(int error) {
  return error == ENOSPC || error == EDQUOT || error == EIO || error == EROFS;
}

struct SaveAborted {
  SaveResult::Stop stop;
  int error;
};

class Writer {
 public:
  Writer(Engine& engine, const SaveOptions& options, SaveResult& result)
      : engine_(engine), options_(options), result_(result) {}

  void Run(int destination, int runFolder, const ItemNode& root) {
    destination_ = destination;
    total_ = CountChecked(root);
    WriteTree(root, runFolder);
  }

 private:
  static std::uint64_t CountChecked(const ItemNode& root) {
    std::uint64_t n = 0;
    WalkTree(&root, [&](const ItemNode& node, int) { n += node.checked != 0; });
    return n;
  }

  // Depth first over the checked items, without recursion: each frame is a
  // folder being written, the next child to write and the folder's
  // descriptor on the destination.
  void WriteTree(const ItemNode& root, int runFolder) {
    struct Frame {
      const ItemNode* next;
      UniqueFd dir;
      int fd;
    };
    std::vector<Frame> stack;
    stack.push_back({root.firstChild, UniqueFd(), runFolder});
    while (!stack.empty() && engine_.keepRunning != 0) {
      Frame& frame = stack.back();
      const ItemNode* child = frame.next;
      if (child == nullptr) {
        stack.pop_back();
        continue;
      }
      frame.next = child->next;
      if (child->checked == 0) continue;
      const Created created = Create(*child, frame.fd);
      if (created.skipFolder) {
        frame.next = nullptr;  // the rest of this folder is not written
        continue;
      }
      ++done_;
      engine_.events().ScanProgress(done_, total_);
      if (child->firstChild != nullptr) {
        ++result_.folders;
        UniqueFd entered(::openat(created.parent, created.name.c_str(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        // Where the folder cannot be entered its children go beside it.
        const int fd = entered ? entered.get() : created.parent;
        stack.push_back({child->firstChild, std::move(entered), fd});
      } else {
        WriteData(*child, created.file.get());
      }
    }
  }

  struct Created {
    bool skipFolder = false;
    int parent = -1;   // the folder it was made in
    std::string name;  // the name it was made under
    UniqueFd file;     // for a file, open for writing
  };

  // Makes the item in `folder`: the name itself, then "#0" + name, "#1" +
  // name, ... while the name is taken; a name too long for the destination
  // goes into "Orphan Files".
  Created Create(const ItemNode& item, int folder) {
    Created created;
    created.parent = folder;
    std::string name = SafeFileName(item.name);
    const bool isFolder = item.firstChild != nullptr;
    bool orphaned = false;
    for (std::uint32_t attempt = 0;; ++attempt) {
      created.name = CollisionName(name, attempt);
      int error = 0;
      if (isFolder) {
        if (::mkdirat(created.parent, created.name.c_str(), 0755) != 0) error = errno;
      } else {
        created.file.reset(::openat(created.parent, created.name.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!created.file) error = errno;
      }
      if (error == 0) break;
      if (error == EEXIST) continue;
      if (error == ENAMETOOLONG && !orphaned) {
        orphaned = true;
        created.parent = OrphanFolder();
        name = NewName(item, name);
        continue;
      }
      if (EndsTheSave(error)) throw SaveAborted{SaveResult::Stop::WriteFailed, error};
      if (options_.onError) options_.onError("Error Num :" + std::to_string(error));
      created.skipFolder = true;
      return created;
    }
    if (orphaned) result_.orphans.push_back(std::filesystem::path(kOrphanFolder) / created.name);
    return created;
  }

  // The name an item too long for the destination gets: the user's choice,
  // or the name shortened to fit, keeping its extension.
  std::string NewName(const ItemNode& item, const std::string& old) {
    std::string name;
    if (options_.rename) {
      if (const auto chosen = options_.rename(item.name, options_.destination / kOrphanFolder)) {
        name = SafeFileName(*chosen);
      }
    }
    if (name.empty()) name = ShortenName(old, kMaxNameBytes / 2);
    result_.renamed.push_back({old, name});
    return name;
  }

  int OrphanFolder() {
    if (!orphans_) {
      if (::mkdirat(destination_, kOrphanFolder, 0755) != 0 && errno != EEXIST &&
          EndsTheSave(errno)) {
        throw SaveAborted{SaveResult::Stop::WriteFailed, errno};
      }
      orphans_.reset(
          ::openat(destination_, kOrphanFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return orphans_ ? orphans_.get() : destination_;
  }

  void WriteData(const ItemNode& item, int fd) {
    ++result_.files;
    if (item.origin != ORIGIN_FILE_SYSTEM) {
      CopyCarvedItem(engine_, item, fd);
    } else if (engine_.context.fsType() == FS_NTFS) {
      WriteNtfsData(engine_, item, fd);
    } else {
      CopyFatItem(engine_, item, fd);
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0) result_.bytes += static_cast<std::uint64_t>(st.st_size);
  }

  Engine& engine_;
  const SaveOptions& options_;
  SaveResult& result_;
  int destination_ = -1;
  UniqueFd orphans_;
  std::uint64_t done_ = 0;
  std::uint64_t total_ = 0;
};

// Makes the run folder "#", or "#0", "#1", ... when that exists.
int MakeRunFolder(int destination, std::string& name) {
  for (std::uint64_t n = 0; n <= kMaxRunFolders; ++n) {
    name = n == 0 ? kRunFolderPrefix : kRunFolderPrefix + std::to_string(n - 1);
    if (::mkdirat(destination, name.c_str(), 0755) == 0) return 0;
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

}  // namespace

SaveResult SaveCheckedItems(Engine& engine, const SaveOptions& options) {
  SaveResult result;
  const auto fail = [&](SaveResult::Stop stop, int error) {
    result.stop = stop;
    result.error = error;
    result.status = 0;
    return result;
  };
  // Writing onto the file system that holds the source would overwrite the
  // very data being recovered; checked before anything is made.
  if (engine.source && WouldWriteOntoSource(options.destination, engine.source->identity())) {
    return fail(SaveResult::Stop::OntoSource, 0);
  }
  // A destination folder that does not exist yet is made.
  std::error_code made;
  std::filesystem::create_directories(options.destination, made);
  UniqueFd destination(::open(options.destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!destination) return fail(SaveResult::Stop::NoDestination, errno);
  std::string runName;
  if (const int error = MakeRunFolder(destination.get(), runName)) {
    return fail(SaveResult::Stop::RunFolder, error);
  }
  result.runFolder = options.destination / runName;
  UniqueFd runFolder(::openat(destination.get(), runName.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!runFolder) return fail(SaveResult::Stop::RunFolder, errno);

  if (engine.treeRoot != nullptr) {
    try {
      Writer(engine, options, result).Run(destination.get(), runFolder.get(), *engine.treeRoot);
    } catch (const SaveAborted& aborted) {
      return fail(aborted.stop, aborted.error);
    } catch (const DeviceLostError& lost) {
      const bool source = lost.side() == DeviceLostError::Side::Source;
      return fail(source ? SaveResult::Stop::SourceLost : SaveResult::Stop::WriteFailed,
                  lost.error());
    }
  }
  result.status = engine.keepRunning;
  if (result.status == 0) result.stop = SaveResult::Stop::Cancelled;
  return result;
}

void CopyCarvedItem(Engine& engine, const ItemNode& node, int out) {
  const std::uint64_t first = ItemsKeepExtents(engine.context.fsType())
                                  ? (node.extents.empty() ? 0 : node.extents.front().start)
                                  : node.id;
  // Blocks count in the source's own sectors, whatever their size.
  const std::uint32_t sectorBytes = engine.context.bytesPerSector();
  if (sectorBytes == 0) return;
  const std::uint64_t blockSectors = kCarvedBlockBytes / sectorBytes;
  // Most carved files are small: the block is no larger than the file.
  const std::uint64_t fileBytes = (node.size + sectorBytes - 1) / sectorBytes * sectorBytes;
  std::vector<std::uint8_t> block(std::min<std::uint64_t>(kCarvedBlockBytes, fileBytes));
  std::uint64_t left = node.size;
  for (std::uint64_t sector = first; left != 0 && engine.keepRunning != 0; sector += blockSectors) {
    const std::uint64_t bytes = std::min<std::uint64_t>(left, kCarvedBlockBytes);
    const std::uint64_t rounded = (bytes + sectorBytes - 1) / sectorBytes * sectorBytes;
    const MutableBytes part = MutableBytes(block).first(rounded);
    engine.ReadSectors(part, sector);
    WriteOrAbort(out, part.first(bytes));
    left -= bytes;
  }
}

}  // namespace restorix
