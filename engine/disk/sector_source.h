// The one way the engine reaches its source: a read-only byte source with a
// size and a native sector size, implemented over a file or block device
// (platform/file_io.h) and, in tests, over memory with injected faults.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <exception>
#include <string>

#include "util/bytes.h"

namespace restorix {

// Raised when the source, or the file an operation writes, is gone or can no
// longer be written. Scanners and writers let it pass; the top-level call of
// each task catches it and ends the task early.
class DeviceLostError : public std::exception {
 public:
  enum class Side { Source, Output };
  DeviceLostError(Side side, int error);
  Side side() const { return side_; }
  int error() const { return error_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  Side side_;
  int error_;
  std::string message_;
};

// Errors of a source read that mean the device itself is gone (a removed
// disk, a dropped FUSE file system).
bool IsDeviceLostError(int error);

// Where a source's bytes are, so that nothing is ever written onto them:
// bytes [first, first + length) of a block device or of a regular file.
struct SourceIdentity {
  enum class Kind : std::uint8_t {
    None,  // not on this system (a source in memory)
    BlockDevice,
    File,
  };
  Kind kind = Kind::None;
  dev_t device = 0;  // st_rdev of a block device, st_dev of a file
  ino_t inode = 0;   // files only
  std::uint64_t first = 0;
  std::uint64_t length = 0;
};

class SectorSource {
 public:
  virtual ~SectorSource() = default;
  // Reads buffer.size() bytes starting at the byte offset. Returns 0 or an
  // errno value. Bytes past the end of the source read as zeros. Two threads
  // may read at once (a scan reads ahead while it parses).
  virtual int ReadAt(MutableBytes buffer, std::uint64_t offset) = 0;
  // The same, past any cache that reads more than was asked for: a block
  // device's page cache reads whole pages, so one bad sector would fail the
  // read of each sector that shares its page. Used to read single sectors
  // around a bad spot.
  virtual int ReadUncached(MutableBytes buffer, std::uint64_t offset) {
    return ReadAt(buffer, offset);
  }
  virtual std::uint64_t size() const = 0;
  // The device's logical sector size; 512 for files.
  virtual std::uint32_t sectorSize() const = 0;
  virtual SourceIdentity identity() const = 0;
  // Copies `length` bytes from `offset` straight into the file `outFd` at its
  // current position, inside the kernel where the source allows it. Returns
  // 0, or an errno (ENOTSUP where there is no such path); after an error the
  // output may hold part of the range.
  virtual int CopyTo(int outFd, std::uint64_t offset, std::uint64_t length) {
    (void)outFd, (void)offset, (void)length;
    return ENOTSUP;
  }
};

}  // namespace restorix
