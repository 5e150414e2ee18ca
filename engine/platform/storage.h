// Where the bytes of a source and of an output are held, followed down to
// the disks and files that hold them: mounted file systems (FUSE ones too)
// to what the mount table names as their source, loop devices to their
// backing file or device and its window, device-mapper and RAID devices to
// the devices under them, partitions to their disk and range. Nothing is ever
// written where a source's bytes are.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "disk/sector_source.h"
#include "platform/mounts.h"

namespace restorix {

// One store of bytes: a block device, or a regular file on some file system.
struct Store {
  enum class Kind : std::uint8_t { Device, File };
  Kind kind = Kind::Device;
  dev_t device = 0;  // the device's own number, or the st_dev of a file
  ino_t inode = 0;   // files only
  friend bool operator==(const Store&, const Store&) = default;
};

inline constexpr std::uint64_t kToTheEnd = std::numeric_limits<std::uint64_t>::max();

// Bytes [first, end) of one store.
struct HeldBytes {
  Store store;
  std::uint64_t first = 0;
  std::uint64_t end = kToTheEnd;
  // True for these very bytes. False for a file system stored there, of which
  // only some bytes are meant: the free space and records that an output's
  // new files take, or the blocks of the files a source file is among.
  bool exact = true;
  std::string name;  // the store as messages name it: "/dev/sda", "/srv/disk.img"
};

// The kernel's tables that the map reads; tests give copies.
struct SystemTables {
  std::filesystem::path sys = "/sys";
  std::filesystem::path mountInfo = "/proc/self/mountinfo";
};

class StorageMap {
 public:
  explicit StorageMap(SystemTables tables = {});

  // Every layer of bytes that reading the source reads: its own bytes (the
  // window of its device or file), what they are stored on below, and, for a
  // file, the file system the file is among. `name` names the source.
  std::vector<HeldBytes> Source(const SourceIdentity& source, const std::string& name) const;

  // Every layer of bytes that writing `path` can change: an existing file or
  // device itself, and the file system of the path (or, for a path still to
  // be made, of the nearest folder above it that exists) down to its disks.
  std::vector<HeldBytes> Output(const std::filesystem::path& path) const;

  // The same for an output given by its file system's device number, the
  // existing file or device it replaces, if any, and the folder it goes in
  // (canonical), by which a file system that the tables do not list by its
  // number is found.
  std::vector<HeldBytes> Output(dev_t fileSystem, const std::optional<HeldBytes>& itself,
                                const std::filesystem::path& folder = {}) const;

 private:
  void FollowDevice(dev_t device, std::uint64_t first, std::uint64_t end, bool exact,
                    std::vector<HeldBytes>& layers, int depth) const;
  void FollowFile(HeldBytes file, std::vector<HeldBytes>& layers, int depth) const;
  // False when neither /sys nor the mount table lists the device number.
  bool FollowFileSystem(dev_t device, std::vector<HeldBytes>& layers, int depth) const;
  void FollowMount(const MountEntry& mount, dev_t device, std::vector<HeldBytes>& layers,
                   int depth) const;
  // The mount on the folder, or on the nearest folder above it.
  const MountEntry* MountHolding(const std::filesystem::path& folder) const;
  void FollowPath(const std::string& path, std::uint64_t first, std::uint64_t end, bool exact,
                  std::vector<HeldBytes>& layers, int depth) const;

  SystemTables tables_;
  std::vector<MountEntry> mounts_;
};

// The bytes that both lists hold, at least one of the two sides meaning
// those very bytes; nullopt when writing the output cannot change what the
// source reads. Two file systems' spans alone never clash: a new file on the
// file system a source file is on takes free space, not the source's blocks.
std::optional<HeldBytes> SharedBytes(const std::vector<HeldBytes>& source,
                                     const std::vector<HeldBytes>& output);

// The check every output makes before anything is written: the bytes that
// writing `output` could change and the source reads, or nullopt. A source
// that is not on this system (a detached one) clashes with nothing.
std::optional<HeldBytes> OutputOntoSource(const std::filesystem::path& output,
                                          const SourceIdentity& source,
                                          const std::string& sourceName);

// "'OUT' lies on the source 'SRC': both are held in /dev/sda, bytes 1048576
// to 34603007."
std::string OntoSourceMessage(const std::string& output, const std::string& source,
                              const HeldBytes& shared);

}  // namespace restorix
