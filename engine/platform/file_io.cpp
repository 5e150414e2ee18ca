#include "platform/file_io.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <system_error>

namespace restorix {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

namespace {

std::mutex deviceOpenerMutex;
std::shared_ptr<const DeviceOpener> deviceOpener;

}  // namespace

void SetDeviceOpener(DeviceOpener opener) {
  const std::lock_guard lock(deviceOpenerMutex);
  deviceOpener = opener ? std::make_shared<const DeviceOpener>(std::move(opener)) : nullptr;
}

UniqueFd OpenReadOnly(const std::filesystem::path& path, int& error) {
  // Only files and block devices are opened: opening a FIFO waits for a
  // writer that may never come, and opening a character device can act on
  // it (a tape rewinds). One swapped in after the check does not wait.
  struct stat before {};
  if (::stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode) && !S_ISBLK(before.st_mode)) {
    error = S_ISDIR(before.st_mode) ? EISDIR : ENOTBLK;
    return UniqueFd();
  }
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd) {
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))) {
      error = S_ISDIR(st.st_mode) ? EISDIR : ENOTBLK;
      return UniqueFd();
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
  }
  error = errno;
  if (error != EACCES && error != EPERM) return fd;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return fd;
  std::shared_ptr<const DeviceOpener> opener;
  {
    const std::lock_guard lock(deviceOpenerMutex);
    opener = deviceOpener;
  }
  if (!opener) return fd;
  int openerError = error;
  fd.reset((*opener)(path, openerError));
  if (!fd) error = openerError;
  return fd;
}

FileSource::Opened FileSource::Open(const std::filesystem::path& path) {
  Opened result;
  UniqueFd fd = OpenReadOnly(path, result.error);
  if (!fd) return result;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    result.error = errno;
    return result;
  }
  auto source = std::make_unique<FileSource>();
  if (S_ISBLK(st.st_mode)) {
    std::uint64_t bytes = 0;
    int logicalSector = 0;
    if (::ioctl(fd.get(), BLKGETSIZE64, &bytes) != 0 ||
        ::ioctl(fd.get(), BLKSSZGET, &logicalSector) != 0) {
      result.error = errno;
      return result;
    }
    source->length_ = bytes;
    source->sectorSize_ = logicalSector > 0 ? static_cast<std::uint32_t>(logicalSector) : 512;
    source->kind_ = SourceIdentity::Kind::BlockDevice;
    source->device_ = st.st_rdev;
    // Opened again through the descriptor, so that a device handed out by
    // the device opener gets one too.
    const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
    source->directFd_.reset(::open(self.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC));
  } else if (S_ISREG(st.st_mode)) {
    source->length_ = static_cast<std::uint64_t>(st.st_size);
    source->kind_ = SourceIdentity::Kind::File;
    source->device_ = st.st_dev;
    source->inode_ = st.st_ino;
  } else {
    result.error = S_ISDIR(st.st_mode) ? EISDIR : ENOTBLK;
    return result;
  }
  source->fd_ = std::move(fd);
  result.source = std::move(source);
  return result;
}

void FileSource::Narrow(std::uint64_t firstByte, std::uint64_t length) {
  if (firstByte > length_) firstByte = length_;
  base_ += firstByte;
  length_ = std::min(length, length_ - firstByte);
}

SourceIdentity FileSource::identity() const {
  return {kind_, device_, inode_, base_, length_};
}

int FileSource::ReadAt(MutableBytes buffer, std::uint64_t offset) {
  const std::uint64_t available = offset < length_ ? length_ - offset : 0;
  const std::size_t want = std::min<std::uint64_t>(buffer.size(), available);
  std::size_t done = 0;
  while (done < want) {
    const ssize_t n = ::pread(fd_.get(), buffer.data() + done, want - done,
                              static_cast<off_t>(base_ + offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;  // the file ended early
    done += static_cast<std::size_t>(n);
  }
  // Past the end of the source (or of a file that shrank) reads as zeros.
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(done), buffer.end(), 0);
  return TouchesUnknown(base_ + offset, want) ? ENODATA : 0;
}

int FileSource::ReadUncached(MutableBytes buffer, std::uint64_t offset) {
  const std::uint64_t start = base_ + offset;
  const std::uint64_t available = offset < length_ ? length_ - offset : 0;
  const std::size_t want = std::min<std::uint64_t>(buffer.size(), available);
  if (!directFd_ || want == 0 || start % sectorSize_ != 0 || want % sectorSize_ != 0) {
    return ReadAt(buffer, offset);
  }
  // O_DIRECT wants the memory aligned too; a page is enough for any device.
  constexpr std::size_t kAlign = 4096;
  const std::size_t rounded = (want + kAlign - 1) / kAlign * kAlign;
  const std::unique_ptr<std::uint8_t, decltype(&std::free)> aligned(
      static_cast<std::uint8_t*>(std::aligned_alloc(kAlign, rounded)), &std::free);
  if (!aligned) return ReadAt(buffer, offset);
  std::size_t done = 0;
  while (done < want) {
    const ssize_t n = ::pread(directFd_.get(), aligned.get() + done, want - done,
                              static_cast<off_t>(start + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      // A device that takes no direct reads after all is read the usual way.
      return errno == EINVAL ? ReadAt(buffer, offset) : errno;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  std::copy_n(aligned.get(), done, buffer.begin());
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(done), buffer.end(), 0);
  return 0;
}

void FileSource::SetUnknown(std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges) {
  unknown_ = std::move(ranges);
}

bool FileSource::TouchesUnknown(std::uint64_t start, std::uint64_t length) const {
  if (length == 0) return false;
  // The first range that ends after `start`.
  const auto range =
      std::upper_bound(unknown_.begin(), unknown_.end(), start,
                       [](std::uint64_t at, const auto& r) { return at < r.second; });
  return range != unknown_.end() && (range->first <= start || range->first - start < length);
}

int FileSource::CopyTo(int outFd, std::uint64_t offset, std::uint64_t length) {
  if (offset > length_ || length > length_ - offset) return EINVAL;
  if (TouchesUnknown(base_ + offset, length)) return ENODATA;
  auto position = static_cast<off_t>(base_ + offset);
  while (length > 0) {
    const ssize_t n =
        ::sendfile(outFd, fd_.get(), &position, std::min<std::uint64_t>(length, 1 << 30));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    length -= static_cast<std::uint64_t>(n);
  }
  return 0;
}

void WriteOrAbort(int fd, Bytes data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw DeviceLostError(DeviceLostError::Side::Output, errno);
    }
    if (n == 0) throw DeviceLostError(DeviceLostError::Side::Output, ENOSPC);
    done += static_cast<std::size_t>(n);
  }
}

std::size_t ReadOrAbort(int fd, MutableBytes buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = ::read(fd, buffer.data() + done, buffer.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw DeviceLostError(DeviceLostError::Side::Output, errno);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

UniqueFd CreateOutputFile(const std::filesystem::path& path, int& error) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  error = fd ? 0 : errno;
  return fd;
}

ReplacementFile::ReplacementFile(const std::filesystem::path& path) : target_(path) {
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    error_ = EISDIR;
    return;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    fd_.reset(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    error_ = fd_ ? 0 : errno;
    return;
  }
  // A symbolic link keeps pointing where it did: the file it names is
  // replaced, not the link.
  std::error_code ec;
  if (exists) target_ = std::filesystem::canonical(path, ec);
  if (ec) target_ = path;
  const std::filesystem::path folder = target_.parent_path();
  static std::atomic<unsigned> made{0};
  for (int attempt = 0; attempt < 100 && !fd_; ++attempt) {
    temporary_ = folder / (".restorix-" + std::to_string(::getpid()) + "-" +
                           std::to_string(made++) + ".part");
    fd_.reset(::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    error_ = fd_ ? 0 : errno;
    if (error_ != EEXIST) break;
  }
  if (!fd_) {
    temporary_.clear();
    return;
  }
  // A replaced file keeps its permissions.
  if (exists) ::fchmod(fd_.get(), st.st_mode & 07777);
}

ReplacementFile::~ReplacementFile() {
  fd_.reset();
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

int ReplacementFile::Commit() {
  if (!fd_) return error_ ? error_ : EBADF;
  if (temporary_.empty()) {
    return ::close(fd_.release()) != 0 && errno != EINTR ? errno : 0;
  }
  if (::fsync(fd_.get()) != 0) return errno;
  if (::close(fd_.release()) != 0 && errno != EINTR) return errno;
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) return errno;
  temporary_.clear();
  return 0;
}

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path() : exe.parent_path();
}

bool IsWholeDiskDevice(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
  const std::string number =
      std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  std::error_code ec;
  return !std::filesystem::exists(std::filesystem::path("/sys/dev/block") / number / "partition",
                                  ec);
}

}  // namespace restorix
