// Operating-system access of the engine: opening sources read-only, block
// device geometry, ordinary file reads and writes, and where the program lives.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "disk/sector_source.h"
#include "util/bytes.h"

namespace restorix {

// An owned file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Another way to open a block device read-only, for a program that may not
// open devices itself: a disk service that hands out read-only descriptors
// once the user allows it. Returns an owned descriptor, or -1 with `error`
// set.
using DeviceOpener = std::function<int(const std::filesystem::path& path, int& error)>;
// Installed at start-up, before any source is opened; an empty one removes it.
void SetDeviceOpener(DeviceOpener opener);

// Opens a regular file or block device read-only; anything else is refused
// without being opened (EISDIR, or ENOTBLK for a FIFO, a character device or
// a socket). A block device that the program may not open itself (EACCES,
// EPERM) goes to the device opener, when there is one.
UniqueFd OpenReadOnly(const std::filesystem::path& path, int& error);

// A file or block device opened for reading, optionally seen through a window
// (first byte, length) such as one partition of a whole-disk image.
class FileSource final : public SectorSource {
 public:
  struct Opened {
    std::unique_ptr<FileSource> source;
    int error = 0;  // errno when source is null
  };
  // Opens read-only; folders and anything but regular files and block devices
  // are refused.
  static Opened Open(const std::filesystem::path& path);

  // Narrows the source to [firstByte, firstByte + length) of what it shows now.
  void Narrow(std::uint64_t firstByte, std::uint64_t length);

  int ReadAt(MutableBytes buffer, std::uint64_t offset) override;
  // On a block device, reads with O_DIRECT (through an aligned buffer) so
  // that only the sectors asked for are read.
  int ReadUncached(MutableBytes buffer, std::uint64_t offset) override;
  std::uint64_t size() const override { return length_; }
  std::uint32_t sectorSize() const override { return sectorSize_; }
  SourceIdentity identity() const override;
  int CopyTo(int outFd, std::uint64_t offset, std::uint64_t length) override;

  // The byte ranges [first, end) of the file whose contents are not known,
  // in order: the sectors that an image's rescue map marks as not copied. A
  // read or copy that touches one fails with ENODATA.
  void SetUnknown(std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges);

 private:
  // Whether bytes [start, start + length) of the file touch an unknown range.
  bool TouchesUnknown(std::uint64_t start, std::uint64_t length) const;

  UniqueFd fd_;
  UniqueFd directFd_;  // the block device opened again with O_DIRECT, if it could be
  std::uint64_t base_ = 0;
  std::uint64_t length_ = 0;
  std::uint32_t sectorSize_ = 512;
  SourceIdentity::Kind kind_ = SourceIdentity::Kind::None;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> unknown_;
};

// One write of the whole buffer to an ordinary file. Any failure (disk full,
// I/O error, a vanished file system) raises DeviceLostError for the output,
// so that no caller can report a truncated file as written.
void WriteOrAbort(int fd, Bytes data);

// Reads up to buffer.size() bytes from an ordinary file; returns how many were
// read (fewer only at the end of the file). A read error raises
// DeviceLostError for the file.
std::size_t ReadOrAbort(int fd, MutableBytes buffer);

// Creates (or replaces) a regular file for writing.
UniqueFd CreateOutputFile(const std::filesystem::path& path, int& error);

// A file written under a temporary name in the folder of `path` and renamed
// over it only once complete, so that `path` never holds a partial file: a
// save cut short by a full disk leaves no file, or the one that was there.
// A path that names no file in a folder (a terminal, a pipe, a device) is
// written in place; a folder is refused (EISDIR).
class ReplacementFile {
 public:
  explicit ReplacementFile(const std::filesystem::path& path);
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // The file to write; -1 when it could not be made (error() says why).
  int fd() const { return fd_.get(); }
  int error() const { return error_; }
  // Flushes the file to the disk and puts it in place of the path. 0, or the
  // errno of the step that failed (the path is then left as it was).
  int Commit();

 private:
  UniqueFd fd_;
  int error_ = 0;
  std::filesystem::path target_;
  std::filesystem::path temporary_;  // empty when written in place
};

// True for a block device that is a whole disk rather than one partition.
bool IsWholeDiskDevice(const std::filesystem::path& path);

// The folder of the running program.
std::filesystem::path ProgramFolder();

}  // namespace restorix
