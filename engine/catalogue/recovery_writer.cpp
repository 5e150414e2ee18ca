#include "catalogue/recovery_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <unordered_map>
#include <vector>

#include "catalogue/item_tree.h"
#include "catalogue/recovery_names.h"
#include "catalogue/stale_check.h"
#include "disk/volume.h"
#include "fs/item_reader.h"
#include "platform/file_io.h"
#include "platform/storage.h"
#include "task.h"
#include "util/fat_date.h"
#include "util/item_time.h"
#include "util/text.h"

namespace restorix {

namespace {

constexpr std::size_t kReadBytes = 1 << 20;
constexpr std::uint32_t kMaxRunFolders = 4294967294u;
// At most this many folders of the path being written are held open
// whatever the depth of the tree; the writer opens the others again when it
// comes back to them.
constexpr std::size_t kOpenFolders = 16;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct SaveAborted {
  SaveResult::Stop stop;
  int error;
};

// The item's modification and access times where the scan kept them in
// full; else its date (the date the listing shows as modified, else its
// creation date) as both.
void SetTimes(int fd, const ItemNode& item) {
  const auto modified = UnixTime(item.times.modified);
  if (modified) {
    const timespec times[2] = {UnixTime(item.times.accessed).value_or(*modified), *modified};
    (void)::futimens(fd, times);
    return;
  }
  const auto time = LocalTimeFromFatDate(item.accessDate ? item.accessDate : item.createDate);
  if (!time) return;
  const timespec times[2] = {{*time, 0}, {*time, 0}};
  // A destination that keeps no times loses nothing that was recovered.
  (void)::futimens(fd, times);
}

// The collision numbers known to be taken in one folder, so that a clash is
// numbered without trying "#0", "#1", ... from the start each time: for each
// name, the first attempt not known to be taken, every attempt from `first`
// up to it having been made.
struct TakenNames {
  std::uint32_t first = 0;
  std::unordered_map<std::string, std::uint32_t> next;

  // Moves `attempt` past the attempts at `name` known to be taken; returns
  // where to record the one that succeeds, or null when `attempt` is already
  // past what is known.
  std::uint32_t* Skip(const std::string& name, std::uint32_t& attempt) {
    std::uint32_t& known = next.try_emplace(name, first).first->second;
    if (attempt > known) return nullptr;
    attempt = known;
    return &known;
  }
};

class Writer {
 public:
  Writer(const Volume& volume, const SaveOptions& options, TaskControl task, SaveResult& result)
      : volume_(volume), options_(options), task_(task), result_(result), stale_(volume) {}

  void Run(int destination, UniqueFd runFolder, const ItemNode& root) {
    destination_ = destination;
    total_ = CountChecked(root);
    orphanPathBytes_ = (options_.destination / kOrphanFolder).native().size();
    stack_.push_back({root.firstChild,
                      {},
                      false,
                      std::move(runFolder),
                      nullptr,
                      result_.runFolder.native().size()});
    try {
      WriteTree();
    } catch (const SaveAborted&) {
      result_.failedItem = ItemPath();
      throw;
    } catch (const DeviceLostError& lost) {
      if (lost.side() == DeviceLostError::Side::Output) result_.failedItem = ItemPath();
      throw;
    }
  }

 private:
  // A folder being written: the next child to write, the name the folder was
  // made under, whether it was made in "Orphan Files" rather than in the
  // folder below it on the stack, and its descriptor while it is held open.
  // The first frame is the run folder.
  struct Frame {
    const ItemNode* next;
    std::string name;
    bool inOrphans;
    UniqueFd fd;
    const ItemNode* folder;
    std::size_t pathBytes;  // of the folder's whole path
    TakenNames taken = {};
  };

  static std::uint64_t CountChecked(const ItemNode& root) {
    std::uint64_t n = 0;
    WalkTree(&root, [&](const ItemNode& node, int) { n += node.checked != 0; });
    return n;
  }

  // Depth first over the checked items, without recursion.
  void WriteTree() {
    while (!stack_.empty() && task_.running()) {
      Frame& frame = stack_.back();
      const ItemNode* child = frame.next;
      if (child == nullptr) {
        Leave();
        continue;
      }
      frame.next = child->next;
      if (child->checked == 0) continue;
      if (child->firstChild == nullptr && stale_.Changed(*child)) {
        result_.changed.push_back(Utf8FromUtf16(restorix::ItemPath(*child)));
        ++done_;
        task_.events.ScanProgress(done_, total_);
        continue;
      }
      current_ = child;
      Created created = Create(*child, stack_.size() - 1);
      ++done_;
      task_.events.ScanProgress(done_, total_);
      if (child->firstChild != nullptr) {
        ++result_.folders;
        UniqueFd entered(::openat(created.parent, created.name.c_str(), kFolderFlags));
        if (!entered) throw SaveAborted{SaveResult::Stop::WriteFailed, errno};
        const std::size_t base = created.orphaned ? orphanPathBytes_ : stack_.back().pathBytes;
        stack_.push_back({child->firstChild, created.name, created.orphaned, std::move(entered),
                          child, base + 1 + created.name.size()});
        CloseFarFolders();
      } else {
        WriteData(*child, std::move(created.file));
      }
      current_ = nullptr;
    }
  }

  // The top folder is done: it gets its item's date, and the folder below
  // it, when it is no longer held open, is opened again through "..".
  void Leave() {
    const std::size_t top = stack_.size() - 1;
    Frame& frame = stack_[top];
    if (top > 0) {
      const int fd = Folder(top);
      SetTimes(fd, *frame.folder);
      Frame& below = stack_[top - 1];
      if (!below.fd && !frame.inOrphans) below.fd.reset(::openat(fd, "..", kFolderFlags));
    }
    stack_.pop_back();
    lowestOpen_ = std::min(lowestOpen_, stack_.size());
  }

  // The descriptor of the folder of frame `index`, opened again by name from
  // the nearest folder below it that is open (or from "Orphan Files") when it
  // was let go.
  int Folder(std::size_t index) {
    if (stack_[index].fd) return stack_[index].fd.get();
    std::size_t from = index;  // the run folder, frame 0, is always open
    while (!stack_[from].inOrphans && !stack_[from - 1].fd)
      --from;
    for (std::size_t i = from; i <= index; ++i) {
      const int base = stack_[i].inOrphans ? OrphanFolder() : stack_[i - 1].fd.get();
      stack_[i].fd.reset(::openat(base, stack_[i].name.c_str(), kFolderFlags));
      if (!stack_[i].fd) throw SaveAborted{SaveResult::Stop::WriteFailed, errno};
      // Only the folders near the top stay open on the way.
      if (i > 1 && index - (i - 1) >= kOpenFolders) stack_[i - 1].fd.reset();
    }
    lowestOpen_ = std::min(lowestOpen_, from);
    CloseFarFolders();
    return stack_[index].fd.get();
  }

  // Lets go of the folders far below the top; the run folder stays open.
  void CloseFarFolders() {
    lowestOpen_ = std::max<std::size_t>(lowestOpen_, 1);
    while (lowestOpen_ + kOpenFolders < stack_.size())
      stack_[lowestOpen_++].fd.reset();
  }

  // Where the item being written was to go, for the report of a failed save.
  std::filesystem::path ItemPath() const {
    std::filesystem::path path = result_.runFolder;
    for (std::size_t i = 1; i < stack_.size(); ++i) {
      if (stack_[i].inOrphans) path = options_.destination / kOrphanFolder;
      path /= stack_[i].name;
    }
    if (current_ != nullptr) path /= SafeFileName(current_->name);
    return path;
  }

  struct Created {
    int parent = -1;        // the folder it was made in
    std::string name;       // the name it was made under
    bool orphaned = false;  // made in "Orphan Files"
    UniqueFd file;          // for a file, open for writing
  };

  // Makes the item in the folder of frame `index`: the name itself, then
  // "#0" + name, "#1" + name, ... while the name is taken; a name, or a whole
  // path, too long for the destination goes into "Orphan Files". Any other
  // failure ends the save.
  Created Create(const ItemNode& item, std::size_t index) {
    Created created;
    created.parent = Folder(index);
    std::size_t pathBytes = stack_[index].pathBytes;
    TakenNames* taken = &stack_[index].taken;
    std::string name = SafeFileName(item.name);
    const bool isFolder = item.firstChild != nullptr;
    std::uint32_t attempt = 0;
    // A folder's only child meets no clash in the folder this run made for
    // it, and a chain of such folders keeps no names.
    const bool alone = item.next == nullptr && item.parent && item.parent->firstChild == &item;
    std::uint32_t* next = alone ? nullptr : taken->Skip(name, attempt);
    for (;;) {
      created.name = CollisionName(name, attempt);
      int error = 0;
      // The kernel takes longer paths through descriptors, but nothing could
      // open such a file by its path afterwards.
      const bool pathTooLong = pathBytes + 1 + created.name.size() >= PATH_MAX;
      if (pathTooLong) {
        error = ENAMETOOLONG;
      } else if (isFolder) {
        if (::mkdirat(created.parent, created.name.c_str(), 0755) != 0) error = errno;
      } else {
        created.file.reset(::openat(created.parent, created.name.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!created.file) error = errno;
      }
      if (error == 0) break;
      ++attempt;
      if (error == EEXIST) continue;
      if (error == ENAMETOOLONG && !created.orphaned) {
        created.orphaned = true;
        created.parent = OrphanFolder();
        pathBytes = orphanPathBytes_;
        taken = &orphanNames_;
        if (!pathTooLong) name = NewName(item, name);
        next = taken->Skip(name, attempt);
        continue;
      }
      throw SaveAborted{SaveResult::Stop::WriteFailed, error};
    }
    if (next != nullptr) *next = attempt + 1;
    if (created.orphaned) {
      result_.orphans.push_back(std::filesystem::path(kOrphanFolder) / created.name);
    }
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
      if (::mkdirat(destination_, kOrphanFolder, 0755) != 0 && errno != EEXIST) {
        throw SaveAborted{SaveResult::Stop::WriteFailed, errno};
      }
      orphans_.reset(::openat(destination_, kOrphanFolder, kFolderFlags));
      if (!orphans_) throw SaveAborted{SaveResult::Stop::WriteFailed, errno};
    }
    return orphans_.get();
  }

  void WriteData(const ItemNode& item, UniqueFd file) {
    ++result_.files;
    ItemReader reader(volume_, item);
    buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kReadBytes, reader.size())));
    std::uint64_t offset = 0;
    while (task_.running()) {
      const std::size_t read = reader.read(offset, buffer_);
      // A read cut short by a stop is not written as if it were the data.
      if (read == 0 || !task_.running()) break;
      WriteOrAbort(file.get(), Bytes(buffer_).first(read));
      offset += read;
      result_.bytes += read;
    }
    SetTimes(file.get(), item);
    // Some file systems (network ones, FUSE) report a failed write only here.
    if (::close(file.release()) != 0 && errno != EINTR) {
      throw DeviceLostError(DeviceLostError::Side::Output, errno);
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
  TakenNames orphanNames_{1, {}};  // the plain name is never tried there
  std::size_t orphanPathBytes_ = 0;
  std::vector<Frame> stack_;
  std::size_t lowestOpen_ = 1;  // frames below it, but the first, are not held open
  const ItemNode* current_ = nullptr;
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
  const std::string sourceName = Utf8FromUtf16(volume.sourceName());
  if (const auto shared = OutputOntoSource(options.destination, volume.identity(), sourceName)) {
    result.ontoSource = OntoSourceMessage(options.destination.string(), sourceName, *shared);
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
      Writer(volume, options, task, result)
          .Run(destination.get(), std::move(runFolder), *tree.root());
    } catch (const SaveAborted& aborted) {
      return fail(aborted.stop, aborted.error);
    }
  }
  if (!task.running()) result.stop = SaveResult::Stop::Cancelled;
}

}  // namespace restorix
