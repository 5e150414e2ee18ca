#include "platform/file_io.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <mutex>
#include <set>
#include <system_error>

#include "platform/mounts.h"

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
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd) return fd;
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
    source->identity_ = {true, st.st_rdev, 0};
  } else if (S_ISREG(st.st_mode)) {
    source->length_ = static_cast<std::uint64_t>(st.st_size);
    source->identity_ = {false, st.st_dev, st.st_ino};
  } else {
    result.error = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
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
  return 0;
}

int FileSource::CopyTo(int outFd, std::uint64_t offset, std::uint64_t length) {
  if (offset > length_ || length > length_ - offset) return EINVAL;
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

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path() : exe.parent_path();
}

namespace {

std::string ReadFirstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::filesystem::path SysfsBlock(dev_t device) {
  return std::filesystem::path("/sys/dev/block") /
         (std::to_string(major(device)) + ":" + std::to_string(minor(device)));
}

// "MAJOR:MINOR" as sysfs writes it; 0 for anything else.
dev_t ParseDevice(const std::string& text) {
  unsigned major = 0, minor = 0;
  const char* end = text.data() + text.size();
  auto [p, error] = std::from_chars(text.data(), end, major);
  if (error != std::errc{} || p == end || *p != ':') return 0;
  auto [q, error2] = std::from_chars(p + 1, end, minor);
  if (error2 != std::errc{}) return 0;
  while (q != end && (*q == '\n' || *q == ' '))
    ++q;
  return q == end ? makedev(major, minor) : 0;
}

// Every block device that the file system on `device` is stored on: the
// device itself, the whole disk of a partition, the devices under a mapper
// or RAID device, and, for loop devices, the file behind them.
void CollectUnderlying(dev_t device, std::set<dev_t>& devices,
                       std::set<std::pair<dev_t, ino_t>>& files, int depth = 0) {
  if (depth > 16 || !devices.insert(device).second) return;
  std::error_code ec;
  const auto node = std::filesystem::canonical(SysfsBlock(device), ec);
  if (ec) return;
  if (std::filesystem::exists(node / "partition", ec)) {
    const dev_t disk = ParseDevice(ReadFirstLine(node.parent_path() / "dev"));
    if (disk != 0) CollectUnderlying(disk, devices, files, depth + 1);
  }
  for (const auto& slave : std::filesystem::directory_iterator(node / "slaves", ec)) {
    const dev_t under = ParseDevice(ReadFirstLine(slave.path() / "dev"));
    if (under != 0) CollectUnderlying(under, devices, files, depth + 1);
  }
  const std::string backing = ReadFirstLine(node / "loop" / "backing_file");
  struct stat st {};
  if (!backing.empty() && ::stat(backing.c_str(), &st) == 0) {
    files.insert({st.st_dev, st.st_ino});
    CollectUnderlying(st.st_dev, devices, files, depth + 1);
  }
}

// The device that a mounted file system names as its source in
// /proc/self/mountinfo, for the mount whose device number is `device`. FUSE
// file systems (ntfs-3g among them) have device numbers of their own; only
// the mount table tells what they are stored on.
std::string MountSourceOf(dev_t device) {
  const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  for (const MountEntry& mount : ReadMounts("/proc/self/mountinfo")) {
    if (mount.device == wanted) return mount.source;
  }
  return {};
}

}  // namespace

bool IsWholeDiskDevice(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
  std::error_code ec;
  return !std::filesystem::exists(SysfsBlock(st.st_rdev) / "partition", ec);
}

bool WouldWriteOntoSource(const std::filesystem::path& path, const SourceIdentity& source) {
  struct stat st {};
  std::error_code ec;
  std::filesystem::path probe = std::filesystem::absolute(path, ec);
  if (ec) probe = path;
  // A file or folder that does not exist yet will live on the file system of
  // the nearest folder above it that does.
  while (::stat(probe.c_str(), &st) != 0) {
    if (!probe.has_parent_path() || probe.parent_path() == probe) return false;
    probe = probe.parent_path();
  }
  if (!source.blockDevice && st.st_dev == source.device && st.st_ino == source.inode) return true;
  if (S_ISBLK(st.st_mode) && source.blockDevice && st.st_rdev == source.device) return true;

  std::set<dev_t> devices;
  std::set<std::pair<dev_t, ino_t>> files;
  CollectUnderlying(st.st_dev, devices, files);
  struct stat mounted {};
  const std::string mountSource = MountSourceOf(st.st_dev);
  if (!mountSource.empty() && mountSource[0] == '/' && ::stat(mountSource.c_str(), &mounted) == 0) {
    if (S_ISBLK(mounted.st_mode)) {
      CollectUnderlying(mounted.st_rdev, devices, files);
    } else if (S_ISREG(mounted.st_mode)) {
      files.insert({mounted.st_dev, mounted.st_ino});
      CollectUnderlying(mounted.st_dev, devices, files);
    }
  }
  if (source.blockDevice) return devices.count(source.device) != 0;
  return files.count({source.device, source.inode}) != 0;
}

}  // namespace restorix
