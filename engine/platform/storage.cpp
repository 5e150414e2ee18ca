#include "platform/storage.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>
#include <fstream>

#include "util/bytes.h"

namespace restorix {

namespace fs = std::filesystem;

namespace {

// Loop devices over files on loop devices, partitions of those, mapper
// devices over them: real stacks are a few layers deep; a deeper one is a
// table that loops.
constexpr int kMaxDepth = 16;

std::string ReadFirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
    line.pop_back();
  return line;
}

std::optional<std::uint64_t> ReadNumber(const fs::path& file) {
  const std::string text = ReadFirstLine(file);
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::string DeviceNumber(dev_t device) {
  return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// "MAJOR:MINOR" as sysfs writes it; nullopt for anything else.
std::optional<dev_t> ParseDevice(const std::string& text) {
  unsigned high = 0, low = 0;
  const char* end = text.data() + text.size();
  const auto [colon, error] = std::from_chars(text.data(), end, high);
  if (error != std::errc{} || colon == end || *colon != ':') return std::nullopt;
  const auto [last, error2] = std::from_chars(colon + 1, end, low);
  if (error2 != std::errc{} || last != end) return std::nullopt;
  return makedev(high, low);
}

// A byte position moved by `offset`, staying "to the end" at the end.
std::uint64_t Shift(std::uint64_t position, std::uint64_t offset) {
  return CheckedAdd(position, offset).value_or(kToTheEnd);
}

// Sectors of 512 bytes, as sysfs counts them, in bytes.
std::uint64_t SectorBytes(std::uint64_t sectors) {
  return CheckedMul(sectors, std::uint64_t{512}).value_or(kToTheEnd);
}

}  // namespace

StorageMap::StorageMap(SystemTables tables)
    : tables_(std::move(tables)), mounts_(ReadMounts(tables_.mountInfo)) {
}

std::vector<HeldBytes> StorageMap::Source(const SourceIdentity& source,
                                          const std::string& name) const {
  std::vector<HeldBytes> layers;
  const std::uint64_t end = Shift(source.first, source.length);
  switch (source.kind) {
    case SourceIdentity::Kind::None:
      break;
    case SourceIdentity::Kind::BlockDevice:
      FollowDevice(source.device, source.first, end, true, layers, 0);
      break;
    case SourceIdentity::Kind::File:
      FollowFile({{Store::Kind::File, source.device, source.inode}, source.first, end, true, name},
                 layers, 0);
      break;
  }
  return layers;
}

std::vector<HeldBytes> StorageMap::Output(const fs::path& path) const {
  std::error_code ec;
  fs::path probe = fs::absolute(path, ec);
  if (ec) probe = path;
  struct stat st {};
  // A file or folder that does not exist yet will live on the file system of
  // the nearest folder above it that does.
  bool itself = true;
  while (::stat(probe.c_str(), &st) != 0) {
    if (!probe.has_parent_path() || probe.parent_path() == probe) return {};
    probe = probe.parent_path();
    itself = false;
  }
  std::optional<HeldBytes> store;
  if (itself && S_ISREG(st.st_mode)) {
    store = HeldBytes{{Store::Kind::File, st.st_dev, st.st_ino}, 0, kToTheEnd, true, path.string()};
  } else if (itself && S_ISBLK(st.st_mode)) {
    store = HeldBytes{{Store::Kind::Device, st.st_rdev, 0}, 0, kToTheEnd, true, path.string()};
  } else if (itself && !S_ISDIR(st.st_mode)) {
    return {};  // a terminal, a pipe: what is written there is stored nowhere
  }
  return Output(st.st_dev, store, fs::canonical(probe, ec));
}

std::vector<HeldBytes> StorageMap::Output(dev_t fileSystem, const std::optional<HeldBytes>& itself,
                                          const fs::path& folder) const {
  std::vector<HeldBytes> layers;
  if (itself && itself->store.kind == Store::Kind::Device) {
    FollowDevice(itself->store.device, itself->first, itself->end, true, layers, 0);
  } else if (itself) {
    FollowFile(*itself, layers, 0);
  }
  // New names, and the blocks of new files, on the file system of the path;
  // for a device number that neither /sys nor the mount table lists (a btrfs
  // subvolume inside a mounted one), the mount whose folder holds the path.
  if (!FollowFileSystem(fileSystem, layers, 0) && !folder.empty()) {
    if (const MountEntry* holder = MountHolding(folder))
      FollowMount(*holder, fileSystem, layers, 0);
  }
  return layers;
}

void StorageMap::FollowDevice(dev_t device, std::uint64_t first, std::uint64_t end, bool exact,
                              std::vector<HeldBytes>& layers, int depth) const {
  if (depth > kMaxDepth) return;
  std::error_code ec;
  const fs::path node = fs::canonical(tables_.sys / "dev" / "block" / DeviceNumber(device), ec);
  if (ec) {
    layers.push_back({{Store::Kind::Device, device, 0},
                      first,
                      end,
                      exact,
                      "block device " + DeviceNumber(device)});
    return;
  }
  if (const auto sectors = ReadNumber(node / "size")) end = std::min(end, SectorBytes(*sectors));
  layers.push_back(
      {{Store::Kind::Device, device, 0}, first, end, exact, "/dev/" + node.filename().string()});
  if (first >= end) return;

  // A partition: a range of its disk.
  if (fs::exists(node / "partition", ec)) {
    const auto disk = ParseDevice(ReadFirstLine(node.parent_path() / "dev"));
    const auto start = ReadNumber(node / "start");
    if (disk && start) {
      const std::uint64_t offset = SectorBytes(*start);
      FollowDevice(*disk, Shift(first, offset), Shift(end, offset), exact, layers, depth + 1);
    }
  }
  // A loop device: a window of its backing file (or device).
  const std::string backing = ReadFirstLine(node / "loop" / "backing_file");
  if (!backing.empty()) {
    const std::uint64_t offset = ReadNumber(node / "loop" / "offset").value_or(0);
    const std::uint64_t limit = ReadNumber(node / "loop" / "sizelimit").value_or(0);
    const std::uint64_t last = limit != 0 ? std::min(end, limit) : end;
    FollowPath(backing, Shift(first, offset), Shift(last, offset), exact, layers, depth + 1);
  }
  // Device-mapper and RAID devices: the kernel does not say which part of
  // each device below holds which bytes, so all of each counts.
  for (const auto& slave : fs::directory_iterator(node / "slaves", ec)) {
    if (const auto under = ParseDevice(ReadFirstLine(slave.path() / "dev"))) {
      FollowDevice(*under, 0, kToTheEnd, exact, layers, depth + 1);
    }
  }
}

void StorageMap::FollowFile(HeldBytes file, std::vector<HeldBytes>& layers, int depth) const {
  if (depth > kMaxDepth) return;
  const dev_t fileSystem = file.store.device;
  layers.push_back(std::move(file));
  FollowFileSystem(fileSystem, layers, depth + 1);
}

void StorageMap::FollowPath(const std::string& path, std::uint64_t first, std::uint64_t end,
                            bool exact, std::vector<HeldBytes>& layers, int depth) const {
  struct stat st {};
  if (path.empty() || path[0] != '/' || ::stat(path.c_str(), &st) != 0) return;
  if (S_ISBLK(st.st_mode)) {
    FollowDevice(st.st_rdev, first, end, exact, layers, depth);
  } else if (S_ISREG(st.st_mode)) {
    FollowFile({{Store::Kind::File, st.st_dev, st.st_ino}, first, end, exact, path}, layers, depth);
  }
}

bool StorageMap::FollowFileSystem(dev_t device, std::vector<HeldBytes>& layers, int depth) const {
  if (depth > kMaxDepth) return false;
  // A file system whose device number is a block device is stored on it.
  std::error_code ec;
  if (fs::exists(tables_.sys / "dev" / "block" / DeviceNumber(device), ec)) {
    FollowDevice(device, 0, kToTheEnd, false, layers, depth);
    return true;
  }
  // Others (FUSE ones such as ntfs-3g, btrfs, overlays) have a number of
  // their own: the mount table says what they are stored on.
  const std::string number = DeviceNumber(device);
  bool listed = false;
  for (const MountEntry& mount : mounts_) {
    if (mount.device != number) continue;
    FollowMount(mount, device, layers, depth + 1);
    listed = true;
  }
  return listed;
}

void StorageMap::FollowMount(const MountEntry& mount, dev_t device, std::vector<HeldBytes>& layers,
                             int depth) const {
  FollowPath(mount.source, 0, kToTheEnd, false, layers, depth);
  if (mount.fsType != "overlay") return;
  // What is written to an overlay goes into its upper and work folders.
  for (const std::string& option : mount.options) {
    for (const std::string_view key : {"upperdir=", "workdir="}) {
      struct stat folder {};
      if (option.starts_with(key) && ::stat(option.substr(key.size()).c_str(), &folder) == 0 &&
          folder.st_dev != device) {
        FollowFileSystem(folder.st_dev, layers, depth + 1);
      }
    }
  }
}

const MountEntry* StorageMap::MountHolding(const fs::path& folder) const {
  const MountEntry* holder = nullptr;
  for (const MountEntry& mount : mounts_) {
    const fs::path point = mount.mountPoint;
    const auto [end, unused] =
        std::mismatch(point.begin(), point.end(), folder.begin(), folder.end());
    // The last of the mounts on one folder is the one that shows.
    if (end == point.end() &&
        (holder == nullptr || point.string().size() >= holder->mountPoint.size())) {
      holder = &mount;
    }
  }
  return holder;
}

std::optional<HeldBytes> SharedBytes(const std::vector<HeldBytes>& source,
                                     const std::vector<HeldBytes>& output) {
  for (const HeldBytes& read : source) {
    for (const HeldBytes& written : output) {
      if (read.store != written.store || !(read.exact || written.exact)) continue;
      const std::uint64_t first = std::max(read.first, written.first);
      const std::uint64_t end = std::min(read.end, written.end);
      if (first < end) return HeldBytes{read.store, first, end, true, read.name};
    }
  }
  return std::nullopt;
}

std::optional<HeldBytes> OutputOntoSource(const fs::path& output, const SourceIdentity& source,
                                          const std::string& sourceName) {
  if (source.kind == SourceIdentity::Kind::None) return std::nullopt;
  const StorageMap map;
  return SharedBytes(map.Source(source, sourceName), map.Output(output));
}

std::string OntoSourceMessage(const std::string& output, const std::string& source,
                              const HeldBytes& shared) {
  std::string message = "'" + output + "' lies on the source '" + source + "': both are held in " +
                        shared.name + ", bytes " + std::to_string(shared.first);
  message += shared.end == kToTheEnd ? " onwards" : " to " + std::to_string(shared.end - 1);
  return message;
}

}  // namespace restorix
