#include "catalogue/recovery_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "catalogue/item_tree.h"
#include "catalogue/recovery_names.h"
#include "catalogue/stale_check.h"
#include "disk/volume.h"
#include "fs/item_reader.h"
#include "platform/file_io.h"
#include "task.h"
#include "util/text.h"

namespace restorix {

namespace {

constexpr std::size_t kReadBytes = 1 << 20;
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
  Writer(const Volume& volume, const SaveOptions& options, TaskControl task, SaveResult& result)
      : volume_(volume), options_(options), task_(task), result_(result), stale_(volume) {}

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
    while (!stack.empty() && task_.running()) {
      Frame& frame = stack.back();
      const ItemNode* child = frame.next;
      if (child == nullptr) {
        stack.pop_back();
        continue;
      }
      frame.next = child->next;
      if (child->checked == 0) continue;
      if (child->firstChild == nullptr && stale_.Changed(*child)) {
        result_.changed.push_back(Utf8FromUtf16(ItemPath(*child)));
        ++done_;
        task_.events.ScanProgress(done_, total_);
        continue;
      }
      const Created created = Create(*child, frame.fd);
      if (created.skipFolder) {
        frame.next = nullptr;  // the rest of this folder is not written
        continue;
      }
      ++done_;
      task_.events.ScanProgress(done_, total_);
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
    ItemReader reader(volume_, item);
    buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kReadBytes, reader.size())));
    std::uint64_t offset = 0;
    while (task_.running()) {
      const std::size_t read = reader.read(offset, buffer_);
      if (read == 0) break;
      WriteOrAbort(fd, Bytes(buffer_).first(read));
      offset += read;
      result_.bytes += read;
    }
  }

  const Volume& volume_;
  const SaveOptions& options_;
  TaskControl task_;
  SaveResult& result_;
  StaleItemCheck stale_;
  std::vector<std::uint8_t> buffer_;
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

void SaveCheckedItems(const Volume& volume, const ItemTree& tree, const SaveOptions& options,
                      TaskControl task, SaveResult& result) {
  const auto fail = [&](SaveResult::Stop stop, int error) {
    result.stop = stop;
    result.error = error;
  };
  // Writing onto the file system that holds the source would overwrite the
  // very data being recovered; checked before anything is made.
  if (volume.isOpen() && WouldWriteOntoSource(options.destination, volume.identity())) {
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

  if (tree.root() != nullptr) {
    try {
      Writer(volume, options, task, result).Run(destination.get(), runFolder.get(), *tree.root());
    } catch (const SaveAborted& aborted) {
      return fail(aborted.stop, aborted.error);
    }
  }
  if (!task.running()) result.stop = SaveResult::Stop::Cancelled;
}

}  // namespace restorix
